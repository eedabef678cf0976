// tavctl: drive a TAV USB input/output board from the shell.
#include "tool.h"

int main(int argc, char** argv)
{
    return tavctl::Main(argc, argv);
}
