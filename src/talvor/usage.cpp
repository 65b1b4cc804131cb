// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstring>
#include <string>

#include "report/exit_codes.h"
#include "report/report.h"
#include "talvor/app.h"

#ifndef TALVOR_VERSION
#define TALVOR_VERSION "unknown"
#endif

namespace talvor {

namespace {

constexpr const char* kUsage =
    "Usage: talvor [--help | --version]\n"
    "\n"
    "Draws today's UTC day log as a waterfall picture and writes the quarter-hour activity\n"
    "file. It takes no arguments: a scheduler starts it shortly before midnight UTC, and it\n"
    "ends by itself about 4.5 seconds later.\n"
    "\n"
    "The station folder is the folder of the path it was started by (a link there is not\n"
    "resolved), or the working directory when it was started by its bare name through PATH.\n"
    "\n"
    "Reads:  TALVOR.INI in the station folder (optional) and the day log\n"
    "        BRANTOS/yyyy-mm-dd/VOK.LOG there, or in the data folder the profile section names.\n"
    "Writes: \"VOKLOG yyyy-mm-dd.GIF\" in the station folder (z.gif when the program's name ends\n"
    "        in a capital Z), and Z.TXT in the working directory.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Exit status: 0 when the picture and Z.TXT were written, 1 when either was not, 2 for any\n"
    "other argument (nothing is run).\n"
    "See talvor(1).\n";

bool IsOption(const char* argument) {
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "--version") == 0;
}

}  // namespace

int AnswerArguments(int argc, const char* const argv[], std::FILE* out) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, out);
        return std::fflush(out) == 0 ? kExitOk : kExitFailed;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fprintf(out, "talvor %s\n", TALVOR_VERSION);
        return std::fflush(out) == 0 ? kExitOk : kExitFailed;
    }
    // An unknown argument is most likely a mistyped option: running the day's job anyway would
    // overwrite the station's picture when the user meant to ask something.
    int unknown = 1;
    while (unknown < argc && IsOption(argv[unknown])) ++unknown;
    std::string usage(kUsage, std::strlen(kUsage) - 1);  // the report ends the line
    if (unknown < argc) {
        ReportFormatted("unknown argument '%s'\n\n%s", argv[unknown], usage.c_str());
    } else {
        ReportFormatted("--help and --version are given alone\n\n%s", usage.c_str());
    }
    return kExitUsage;
}

}  // namespace talvor
