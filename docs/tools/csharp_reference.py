"""The C# binding's reference page, from bindings/dotnet/Tav.cs: each public
type and member with its /// <summary>, in the order of the file.
    python3 csharp_reference.py Tav.cs > csharp.md"""
import html
import re
import sys

DECLARATION = re.compile(r"^\s*public\s+(?!.*=>\s*$)(.*?)\s*(\{.*)?$")


def main(path: str) -> None:
    lines = open(path, encoding="utf-8").read().splitlines()
    out = ["# The C# binding: Tav.cs", "",
           "`bindings/dotnet/Tav.cs`, one source file over the C interface (namespace `Tav`). "
           "Failures throw `Tav.TavException` with `Code` (tav.h's result) and the library's words.", ""]
    summary: list = []
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("///"):
            summary.append(re.sub(r"</?\w+>", "", stripped[3:]).strip())
            continue
        found = DECLARATION.match(line)
        if found and not stripped.startswith("public static readonly int"):
            signature = re.sub(r"\s*(=>.*|\{.*)$", "", found.group(1)).strip().rstrip(";")
            text = " ".join(part for part in summary if part)
            is_type = re.search(r"\b(class|struct|enum)\b", signature) is not None
            out.append(("## " if is_type else "### ") + f"`{signature}`")
            out.append("")
            if text:
                out.append(html.unescape(text))
                out.append("")
        elif found and stripped.startswith("public static readonly int"):
            name = stripped.split()[4]
            out.append(f"- `TavException.{name}`")
        summary = [] if not stripped.startswith("[") else summary
    print("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
