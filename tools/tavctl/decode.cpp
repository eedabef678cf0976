// tavctl decode: records to text, no board needed.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "command.h"
#include "tool.h"

namespace tavctl {

namespace {

constexpr size_t RECORD_SIZE = TAV_RECORD_SIZE;

// A file of hex text (with # comments) or of raw 64-byte records. Hex text
// shorter than one record is one record with its missing bytes zero, as on
// the command line.
std::vector<uint8_t> RecordBytes(const std::string& content)
{
    std::string text;
    bool isText = true;
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
        line = line.substr(0, line.find('#'));
        for (char symbol : line)
            if (!std::isxdigit(static_cast<unsigned char>(symbol)) && !std::isspace(static_cast<unsigned char>(symbol))
                && symbol != ':' && symbol != ',')
                isText = false;
        text += line + "\n";
    }
    if (isText) {
        std::vector<uint8_t> bytes = ParseHexBytes(text);
        if (!bytes.empty() && bytes.size() < RECORD_SIZE)
            bytes.resize(RECORD_SIZE, 0);
        return bytes;
    }
    return std::vector<uint8_t>(content.begin(), content.end());
}

void SayDecoded(size_t count, const std::string& file)
{
    std::printf("decoded %zu record%s of %s\n", count, count == 1 ? "" : "s", file.c_str());
}

} // namespace

void DecodeCommand(const std::vector<std::string>& hex, const std::string& file)
{
    std::vector<uint8_t> bytes;
    bool padShortRecord = false;
    const bool fromInput = hex.empty() || (hex.size() == 1 && hex[0] == "-");
    if (!file.empty() && !hex.empty())
        throw ToolError("decode takes hex bytes or --file, not both", EXIT_USAGE);
    if (!file.empty()) {
        const std::string content = ReadTextFile(file, MAX_RECORD_LOG_BYTES);
        if (IsRecordLog(content)) {
            const RecordLog log = ReadRecordLog(content, file);
            for (const LoggedRecord& record : log.records)
                std::printf("%s %s %s\n", SecondsText(record.timeNs).c_str(), record.out ? "out" : "in ",
                            record.out ? DescribeRecord(record.bytes).c_str() : "the board's reply");
            SayDecoded(log.records.size(), file);
            return;
        }
        bytes = RecordBytes(content);
    } else if (fromInput) {
        bytes = RecordBytes(ReadCapped(std::cin, MAX_RECORD_LOG_BYTES, "standard input"));
    } else {
        std::string text;
        for (const std::string& word : hex)
            text += word + " ";
        try {
            bytes = ParseHexBytes(text);
        } catch (const ToolError& error) {
            const bool looksLikeFile = hex.size() == 1 && hex[0].find_first_of("/.") != std::string::npos;
            throw ToolError(std::string(error.what()) +
                                (looksLikeFile ? " (to decode a file: tavctl decode --file " + hex[0] + ")" : ""),
                            EXIT_USAGE);
        }
        padShortRecord = true;
    }
    if (bytes.empty())
        throw ToolError("nothing to decode", EXIT_USAGE);
    if (padShortRecord && bytes.size() > RECORD_SIZE)
        throw ToolError("a record is " + std::to_string(RECORD_SIZE) + " bytes, " + std::to_string(bytes.size()) + " given", EXIT_USAGE);
    if (padShortRecord)
        bytes.resize(RECORD_SIZE, 0);
    if (bytes.size() % RECORD_SIZE != 0)
        throw ToolError(std::to_string(bytes.size() % RECORD_SIZE) + " bytes at the end do not make a whole " +
                            std::to_string(RECORD_SIZE) + "-byte record",
                        EXIT_USAGE);
    const size_t count = bytes.size() / RECORD_SIZE;
    for (size_t index = 0; index < count; ++index) {
        const std::string text = DescribeRecord(bytes.data() + index * RECORD_SIZE);
        if (count > 1)
            std::printf("%zu: %s\n", index + 1, text.c_str());
        else
            std::printf("%s\n", text.c_str());
    }
    if (!file.empty())
        SayDecoded(count, file);
}

Command DecodeDeclaration()
{
    Command decode{"decode",
            "Show records in words: hex bytes, a file (--file) of hex or binary records, or standard input",
            {OptionalWords("HEX", "Hex bytes of one record (missing bytes are zero); none or - reads standard input"),
             Optional("--file,-f", "A file of hex text (# comments), of binary " + std::to_string(TAV_RECORD_SIZE) +
                                       "-byte records, or a record log (TAV_TRACE=FILE.tavtrace)")},
            "Examples:\n  tavctl decode 22 05 00 00 00 00 00 00 02\n  tavctl decode --file records.bin\n"
            "  tavctl --trace --sim init 2>&1 | grep TIM",
            [](Context&, const Arguments& arguments) { DecodeCommand(arguments.Words("HEX"), arguments.Text("--file")); }};
    decode.runsWhenChecked = false;
    return decode;
}

} // namespace tavctl
