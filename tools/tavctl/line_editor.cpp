#include "line_editor.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "stop_signal.h"

namespace tavctl {

namespace {

const Editline* interruptibleEditline = nullptr;

// libedit reads the prompt's keys through this: a Ctrl-C there drops the
// line typed so far and gives a new prompt.
int ReadKey(FILE* stream)
{
    for (;;) {
        unsigned char key = 0;
        const ssize_t got = read(fileno(stream), &key, 1);
        if (got == 1)
            return key;
        if (got == 0 || errno != EINTR)
            return EOF;
        if (TakeInterrupt()) {
            interruptibleEditline->replaceLine("", 0);
            return '\n';
        }
    }
}

} // namespace

LineEditor::LineEditor(bool interruptible) : editline_(LoadEditline())
{
    if (editline_ == nullptr)
        return;
    if (interruptible) {
        interruptibleEditline = editline_;
        *editline_->catchSignals = 0;
        *editline_->getcFunction = ReadKey;
    }
    editline_->usingHistory();
}

bool LineEditor::ReadLine(const char* prompt, std::string& line)
{
    std::fflush(stdout);
    if (editline_ != nullptr) {
        char* typed = editline_->readline(prompt);
        if (typed == nullptr)
            return false;
        line = typed;
        std::free(typed);
        return true;
    }
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    if (!std::getline(std::cin, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

void LineEditor::Remember(const std::string& line)
{
    if (editline_ != nullptr)
        editline_->addHistory(line.c_str());
}

void LineEditor::LoadHistory(const std::string& file)
{
    if (editline_ != nullptr)
        editline_->readHistory(file.c_str());
}

void LineEditor::SaveHistory(const std::string& file)
{
    if (editline_ != nullptr)
        editline_->writeHistory(file.c_str());
}

} // namespace tavctl
