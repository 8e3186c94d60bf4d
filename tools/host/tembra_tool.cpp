// Host-side companion of the download manager, built from the same core:
//   tembra_tool scramble   < plain     > scrambled   (what a server sends)
//   tembra_tool descramble < scrambled > plain
//   tembra_tool stamp IN OUT FIRST SECOND   copy IN to OUT with an ID trailer
//                                           (replacing any earlier one; a signed
//                                           copy keeps its signature)
//   tembra_tool read-id FILE                print the ID a copy would record
//   tembra_tool publish OUT ...             write what the servers serve
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "download/scramble.h"
#include "install/distribution_rules.h"
#include "pe_stamp.h"
#include "publish.h"

namespace {

bool ReadAll(FILE* in, std::vector<unsigned char>* bytes) {
    unsigned char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, in)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
    return !ferror(in);
}

bool ReadFile(const char* path, std::vector<unsigned char>* bytes) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    const bool ok = ReadAll(f, bytes);
    fclose(f);
    return ok;
}

int Substitute(bool scramble) {
    std::vector<unsigned char> bytes;
    if (!ReadAll(stdin, &bytes)) return 1;
    for (unsigned char& b : bytes) {
        if (b == 0) {
            fprintf(stderr, "tembra_tool: a configuration text cannot hold NUL bytes\n");
            return 1;
        }
        b = scramble ? kScrambleTable.bytes[b] : kDescrambleTable.bytes[b];
    }
    return fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() ? 0 : 1;
}

int Stamp(const char* in, const char* out, const char* first, const char* second) {
    std::vector<unsigned char> bytes;
    if (!ReadFile(in, &bytes)) {
        fprintf(stderr, "tembra_tool: cannot read %s\n", in);
        return 1;
    }
    const std::string error = StampTrailer(&bytes, first, second);
    if (!error.empty()) {
        fprintf(stderr, "tembra_tool: %s: %s\n", in, error.c_str());
        return 1;
    }
    FILE* f = fopen(out, "wb");
    if (!f) {
        fprintf(stderr, "tembra_tool: cannot write %s\n", out);
        return 1;
    }
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (fclose(f) == 0 && ok) ? 0 : 1;
}

int ReadId(const char* path) {
    std::vector<unsigned char> bytes;
    if (!ReadFile(path, &bytes)) {
        fprintf(stderr, "tembra_tool: cannot read %s\n", path);
        return 1;
    }
    char id[260];
    const size_t tailSize = bytes.size() < TRAILER_SIZE ? bytes.size() : TRAILER_SIZE;
    unsigned char tail[TRAILER_SIZE] = {};
    memcpy(tail, bytes.data() + bytes.size() - tailSize, tailSize);
    if (!ParseTrailer(tail, static_cast<long>(bytes.size()), id, sizeof id)) {
        // The program sees its path with backslashes; the name rule needs only the base name.
        std::string name(path);
        const size_t slash = name.find_last_of("/\\");
        if (slash != std::string::npos) name = name.substr(slash + 1);
        if (!IdFromModulePath(name.c_str(), id, sizeof id)) return 1;
    }
    printf("%s\n", id);
    return 0;
}

int Usage() {
    fprintf(stderr,
            "usage: tembra_tool scramble|descramble  (stdin to stdout)\n"
            "       tembra_tool stamp IN OUT FIRST SECOND\n"
            "       tembra_tool read-id FILE\n"
            "       tembra_tool publish OUT --primary URL --fallback URL --download-base URL\n"
            "                   --news FILE --installer FILE|LANG=FILE ... [--redirects N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "scramble") == 0) return Substitute(true);
    if (argc == 2 && strcmp(argv[1], "descramble") == 0) return Substitute(false);
    if (argc == 6 && strcmp(argv[1], "stamp") == 0) return Stamp(argv[2], argv[3], argv[4], argv[5]);
    if (argc == 3 && strcmp(argv[1], "read-id") == 0) return ReadId(argv[2]);
    if (argc >= 2 && strcmp(argv[1], "publish") == 0) return Publish(argc - 2, argv + 2);
    return Usage();
}
