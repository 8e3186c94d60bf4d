// Host-side companion of the download manager, built from the same core:
//   tembra_tool scramble   < plain     > scrambled   (what a server sends)
//   tembra_tool descramble < scrambled > plain
//   tembra_tool stamp IN OUT FIRST SECOND   copy IN to OUT with an ID
//   tembra_tool read-id FILE                print the ID a copy would record
//   tembra_tool publish OUT ...             write what the servers serve
//   tembra_tool check MANIFEST [--ca FILE]  ask the live servers what the program asks
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "download/scramble.h"
#include "file_io.h"
#include "options.h"
#include "publish.h"
#include "stamp.h"

namespace {

const char kUsage[] =
    "usage: tembra_tool scramble|descramble     (standard input to standard output)\n"
    "       tembra_tool stamp IN OUT FIRST SECOND\n"
    "       tembra_tool read-id FILE\n"
    "       tembra_tool publish OUT --primary URL --fallback URL --download-base URL\n"
    "                   --news FILE --installer [reg:|sys:][LANG=]FILE ... [--mirror URL ...]\n"
    "                   [--redirects N]\n"
    "       tembra_tool check MANIFEST [--ca FILE]\n"
    "Each command takes --help.\n";

// Streams standard input through the substitution table in pieces.
int Substitute(const char* command, int argc, char** argv) {
    const bool scramble = std::strcmp(command, "scramble") == 0;
    try {
        const CommandLine line = ParseCommandLine(argc, argv, {}, {});
        if (line.help) {
            std::printf("usage: tembra_tool %s < IN > OUT\n%s", command,
                        scramble ? "Scrambles a configuration answer as a server sends it (no NUL bytes).\n"
                                 : "Descrambles what a configuration server sent.\n");
            return 0;
        }
        unsigned char piece[65536];
        for (;;) {
            const ssize_t n = read(STDIN_FILENO, piece, sizeof piece);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) FailSystem("standard input", errno);
            if (n == 0) break;
            for (ssize_t i = 0; i < n; ++i) {
                if (piece[i] == 0) Fail("standard input: a configuration text cannot hold NUL bytes");
                piece[i] = scramble ? kScrambleTable.bytes[piece[i]] : kDescrambleTable.bytes[piece[i]];
            }
            WriteAllTo(STDOUT_FILENO, piece, static_cast<std::size_t>(n), "standard output");
        }
        return 0;
    } catch (const ToolError& error) {
        std::fprintf(stderr, "tembra_tool %s: %s\n", command, error.message.c_str());
        return 1;
    }
}

// The checker is a Python script beside the tool's sources: it asks the
// servers over http(s) and descrambles with this very tool.
int Check(int argc, char** argv) {
    try {
        const CommandLine line = ParseCommandLine(argc, argv, {{"--ca", false}}, {"MANIFEST"});
        char self[PATH_MAX] = {};
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) FailSystem("/proc/self/exe", errno);
        std::vector<const char*> args = {"python3", TEMBRA_CHECK_SCRIPT, "--tool", self};
        if (line.help) {
            args.push_back("--help");
        } else {
            args.push_back(line.positionals[0].c_str());
            if (line.Has("--ca")) {
                args.push_back("--ca");
                args.push_back(line.values.at("--ca").front().c_str());
            }
        }
        args.push_back(nullptr);
        std::fflush(stdout);
        execvp("python3", const_cast<char* const*>(args.data()));
        FailSystem("python3", errno);
    } catch (const ToolError& error) {
        std::fprintf(stderr, "tembra_tool check: %s\n", error.message.c_str());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc >= 2 ? argv[1] : "";
    if (command == "scramble" || command == "descramble") return Substitute(argv[1], argc - 2, argv + 2);
    if (command == "stamp") return StampCommand(argc - 2, argv + 2);
    if (command == "read-id") return ReadIdCommand(argc - 2, argv + 2);
    if (command == "publish") return Publish(argc - 2, argv + 2);
    if (command == "check") return Check(argc - 2, argv + 2);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fprintf(stderr, "tembra_tool: %s (see tembra_tool --help)\n",
                 command.empty() ? "no command given" : ("unknown command " + command).c_str());
    return 1;
}
