// Stamping streams the copy: the headers are patched in memory, the rest up
// to the certificate table (or an earlier trailer) is copied in pieces, and
// the new tail follows. The PE checksum is summed over what is written and
// set last; it lies outside the signed hash, so a signature stays valid.
#include "stamp.h"

#include <cstdio>
#include <cstring>

#include "file_io.h"
#include "options.h"
#include "stamp_rules.h"

namespace {

constexpr std::size_t kPiece = 1 << 20;

const char kStampHelp[] =
    "usage: tembra_tool stamp IN OUT FIRST SECOND\n"
    "Copies the Windows program IN to OUT with the distribution ID FIRST_SECOND,\n"
    "replacing any ID the copy had. FIRST: 1 to 11, SECOND: 1 to 20 visible ASCII\n"
    "characters; FIRST holds no '_'. A signed copy keeps a valid signature (the ID\n"
    "goes into an unauthenticated attribute of the last signer). IN and OUT may be\n"
    "the same file; OUT is replaced only once the whole copy is written.\n";

const char kReadIdHelp[] =
    "usage: tembra_tool read-id FILE\n"
    "Prints the distribution ID the copy FILE would record: its trailer's, or the\n"
    "one its name carries (Tembra<ID>.exe). Exits 1 when it carries none.\n";

void Put32(unsigned char* b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

void Stamp(const std::string& inPath, const std::string& outPath, const std::string& first,
           const std::string& second) {
    const std::string idError = CheckIdParts(first, second);
    if (!idError.empty()) Fail(idError + ": " + first + " " + second);
    unsigned char trailer[TRAILER_SIZE];
    BuildTrailer(first.c_str(), second.c_str(), trailer);

    const InputFile in(inPath, "");
    const std::string out = NormalizeTarget(outPath);
    PeLayout layout;
    const std::string peError = ReadPeLayout(
        [&in](std::uint64_t offset, void* buffer, std::size_t n) { return in.TryReadAt(offset, buffer, n); },
        in.size(), &layout);
    if (!peError.empty()) Fail(inPath + ": " + peError);
    unsigned char last[TRAILER_SIZE];
    in.ReadAt(in.size() - TRAILER_SIZE, last, sizeof last);  // a PE file is longer than 35 bytes
    StampPlan plan;
    const std::string planError = PlanStamp(layout, last, trailer, &plan);
    if (!planError.empty()) Fail(inPath + ": " + planError);

    // Everything up to the security directory's end is patched in memory.
    const std::uint64_t patchEnd = std::max(layout.checksumOffset + 4, layout.securityEntry + 8);
    Bytes head(static_cast<std::size_t>(std::min<std::uint64_t>(patchEnd, plan.copyLength)));
    in.ReadAt(0, head.data(), head.size());
    std::memset(&head[layout.checksumOffset], 0, 4);
    if (layout.certificateOffset) Put32(&head[layout.securityEntry + 4], plan.securitySize);

    ReplacingFile target(out, in.mode());
    PeChecksum checksum(layout.checksumOffset);
    auto write = [&](const unsigned char* data, std::size_t n) {
        target.file().Write(data, n);
        checksum.Update(data, n);
    };
    write(head.data(), head.size());
    Bytes piece(kPiece);
    for (std::uint64_t at = head.size(); at < plan.copyLength;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, plan.copyLength - at));
        in.ReadAt(at, piece.data(), n);
        write(piece.data(), n);
        at += n;
    }
    write(plan.tail.data(), plan.tail.size());
    unsigned char sum[4];
    Put32(sum, checksum.Finish());
    target.file().WriteAt(layout.checksumOffset, sum, sizeof sum);
    target.Commit();
    std::printf("stamped %s with %s_%s (%llu bytes%s)\n", out.c_str(), first.c_str(), second.c_str(),
                static_cast<unsigned long long>(target.file().written()),
                plan.replacedStamp ? ", replacing the earlier ID" : "");
}

int Run(const char* command, int argc, char** argv, const std::vector<std::string>& positionals,
        const char* help, void (*body)(const CommandLine&)) {
    try {
        const CommandLine line = ParseCommandLine(argc, argv, {}, positionals);
        if (line.help) {
            std::fputs(help, stdout);
            return 0;
        }
        body(line);
        if (std::fflush(stdout) != 0) FailSystem("standard output", errno);
        return 0;
    } catch (const ToolError& error) {
        std::fprintf(stderr, "tembra_tool %s: %s\n", command, error.message.c_str());
        return 1;
    }
}

}  // namespace

int StampCommand(int argc, char** argv) {
    return Run("stamp", argc, argv, {"IN", "OUT", "FIRST", "SECOND"}, kStampHelp, [](const CommandLine& line) {
        const auto& p = line.positionals;
        Stamp(p[0], p[1], p[2], p[3]);
    });
}

int ReadIdCommand(int argc, char** argv) {
    return Run("read-id", argc, argv, {"FILE"}, kReadIdHelp, [](const CommandLine& line) {
        const std::string& path = line.positionals[0];
        const InputFile in(path, "");
        // The program's rule: the last 35 bytes of a file longer than that.
        unsigned char tail[TRAILER_SIZE] = {};
        char id[260] = {};
        const bool longEnough = in.size() > TRAILER_SIZE;
        if (longEnough) in.ReadAt(in.size() - TRAILER_SIZE, tail, sizeof tail);
        if (!longEnough || !ParseTrailer(tail, static_cast<long>(in.size()), id, sizeof id)) {
            // The program sees its path with backslashes; the rule needs only the base name.
            const std::size_t slash = path.find_last_of('/');
            IdFromModulePath(path.substr(slash == std::string::npos ? 0 : slash + 1).c_str(), id, sizeof id);
        }
        if (!id[0]) Fail(path + ": no distribution ID (no trailer, and the name is not Tembra<ID>.exe)");
        std::printf("%s\n", id);
    });
}
