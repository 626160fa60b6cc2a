#pragma once

namespace kvq::cli {

// kvqctl's exit codes; a signal ends it with 128 + the signal's number.
enum ExitCode {
    ExitDone = 0,
    ExitProblem = 1,  // the actuator failed or reported a problem
    ExitUsage = 2,    // a usage error or bad input, said in a sentence
    ExitTimeout = 3,
    ExitNoPort = 4,
};

}  // namespace kvq::cli
