// tavctl decode: records to text, no board needed.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

#include "tool.h"

namespace tavctl {

namespace {

constexpr size_t RECORD_SIZE = 64;

// A file of hex text (with # comments) or of raw 64-byte records.
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
    if (isText)
        return ParseHexBytes(text);
    return std::vector<uint8_t>(content.begin(), content.end());
}

} // namespace

void AddDecodeCommand(CLI::App& app, Context& /*context*/)
{
    auto* command = app.add_subcommand("decode", "Show records in words: hex, a file of hex or binary records, or "
                                                 "- for standard input");
    auto source = std::make_shared<std::vector<std::string>>();
    command->add_option("SOURCE", *source, "Hex bytes (missing bytes are zero), a file, or - (the default)");
    command->footer("Examples:\n  tavctl decode 22 05 00 00 00 00 00 00 02\n  tavctl decode records.bin\n"
                    "  tavctl --trace --sim init 2>&1 | grep TIM");
    command->callback([source] {
        std::vector<uint8_t> bytes;
        bool padShortRecord = false;
        struct stat info {};
        if (source->empty() || (source->size() == 1 && (*source)[0] == "-")) {
            const std::string content((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
            bytes = RecordBytes(content);
        } else if (source->size() == 1 && stat((*source)[0].c_str(), &info) == 0) {
            std::ifstream file((*source)[0], std::ios::binary);
            if (!file || S_ISDIR(info.st_mode))
                throw ToolError("cannot read " + (*source)[0]);
            const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            bytes = RecordBytes(content);
        } else {
            std::string text;
            for (const std::string& word : *source)
                text += word + " ";
            bytes = ParseHexBytes(text);
            padShortRecord = true;
        }
        if (bytes.empty())
            throw ToolError("nothing to decode", EXIT_USAGE);
        if (padShortRecord && bytes.size() > RECORD_SIZE)
            throw ToolError("a record is 64 bytes, " + std::to_string(bytes.size()) + " given", EXIT_USAGE);
        if (padShortRecord)
            bytes.resize(RECORD_SIZE, 0);
        if (bytes.size() % RECORD_SIZE != 0)
            throw ToolError(std::to_string(bytes.size() % RECORD_SIZE) +
                                " bytes at the end do not make a whole 64-byte record",
                            EXIT_USAGE);
        const size_t count = bytes.size() / RECORD_SIZE;
        for (size_t index = 0; index < count; ++index) {
            const std::string text =
                DescribeRecord(bytes.data() + index * RECORD_SIZE);
            if (count > 1)
                std::printf("%zu: %s\n", index + 1, text.c_str());
            else
                std::printf("%s\n", text.c_str());
        }
    });
}

} // namespace tavctl
