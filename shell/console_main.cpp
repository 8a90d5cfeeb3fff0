#include "shell/console_program.h"

int main(int argc, char** argv) {
    return tellmaro::shell::runConsoleProgram(std::vector<std::string>(argv + 1, argv + argc));
}
