// The end of a run: wait for one line on standard input, then stop.
#pragma once

namespace slipvel::program {

// Flushes standard output (so a prompt shows), then consumes input up to and
// including the first line end, a byte at a time so that later lines stay
// unread for whoever reads the same input next. End of input or a read error
// ends the wait quietly.
void final_read(int fd = 0);

// Flushes standard output and ends the process with status 0.
[[noreturn]] void stop();

}  // namespace slipvel::program
