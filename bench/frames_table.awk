# The frames each operation used, one transfer at a time ("sync:") against
# a board object's default (tav_open(""): queued), from the board's OUT URBs
# ("FRAME 2" lines, in order) and the client's operations ("BACKEND
# OPERATION RECORDS" lines, bench/usb_frames.c): a table, then "LABELthe
# default (queued) within R of the frame limit", R the worst ratio of the
# default's frames to ceil(records / 19).
#   awk [-v label="x86_64 libusb0.dll: "] [-v max_ratio=1.5] -f bench/frames_table.awk FRAMES OPERATIONS
# (exit status 1 when R is above max_ratio)
# FRAMES: the frame of each OUT URB, one a line.
BEGIN { packets = 19 }
    NR == FNR { frame[++urbs] = $1; next }
    {
        backend = $1; operation = $2; count = $3
        first = frame[next_urb + 1]; last = frame[next_urb + count]
        next_urb += count
        if (operation == "open") next
        if (!(operation in records)) order[++operations] = operation
        records[operation] = count
        used[backend, operation] = count > 0 ? last - first + 1 : 0
    }
    END {
        if (next_urb != urbs) {
            printf "usb_frames: the board took %d OUT transfers, the client counted %d\n", urbs, next_urb > "/dev/stderr"
            exit 1
        }
        printf "%-12s %8s %12s %16s %7s %14s\n", "operation", "records", "sync:", "default (queued)", "limit", "default/limit"
        worst = 0
        for (i = 1; i <= operations; ++i) {
            operation = order[i]
            limit = int((records[operation] + packets - 1) / packets)
            ratio = used["queued", operation] / limit
            if (ratio > worst) worst = ratio
            printf "%-12s %8d %12d %16d %7d %14.2f\n", operation, records[operation], used["one-by-one", operation],
                   used["queued", operation], limit, ratio
        }
        printf "%sthe default (queued) within %.2f of the frame limit\n", label, worst
        if (max_ratio != "" && worst > max_ratio) exit 1
    }
