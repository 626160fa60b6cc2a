#pragma once

// Whether the standard output is a terminal (a progress line is then drawn).
bool StandardOutputIsTerminal();
