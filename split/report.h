// splitcolormap's messages: one line each on standard error, after the
// program's name, as other command-line tools write them.
#pragma once

[[gnu::format(printf, 1, 2)]] void report_error(const char* format, ...);
