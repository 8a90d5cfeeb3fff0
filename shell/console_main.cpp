#include "shell/console_program.h"

int main() {
    return tellmaro::shell::runConsoleProgram();
}
