// kvqctl: the headless front end. It runs the same start-up as the dialog,
// prints each new pair of status lines, and carries out one command.

#include "app/Environment.h"
#include "cli/Kvqctl.h"

int main(int argc, char** argv) {
    return kvq::cli::RunKvqctl(kvq::app::ProgramArguments(argc, argv), kvq::cli::ThisProcess());
}
