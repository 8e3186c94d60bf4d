// The tree mirrors the addresses: the answer of a configuration server
// http://host/path lies at OUT/path, an installer of the download base
// http://host/files/ at OUT/files/<name>. Every server can then serve the
// same tree as it is (nginx, any static web server, an object store).
//
//   OUT/<primary path>          scrambled answer (redirect or final)
//   OUT/<primary path>-1 ...    further redirects, the last one final
//   OUT/<fallback path>, ...    the same for the fallback
//   OUT/<base path>p_Vrimal_{reg,sys}_<LANG>.<LANG>   info file
//   OUT/<base path>p_Vrimal_{reg,sys}_<LANG>.exe      installer (hard links)
//   OUT/manifest.json           every other file with size and SHA-256
#include "publish.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "download/constants.h"
#include "download/discovery.h"
#include "download/languages.h"
#include "download/package_rules.h"
#include "download/scramble.h"
#include "pe_stamp.h"
#include "sha256.h"

namespace fs = std::filesystem;

namespace {

const char kManifest[] = "manifest.json";
const char kFormat[] = "tembra-publish/1";

struct Options {
    std::string out, primary, fallback, base, news;
    std::string installerForAll;
    std::map<std::string, std::string> installers;  // language -> file
    int redirects = 0;
};

struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

Bytes ReadBytes(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(std::string("cannot read ") + what + " " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool IsLanguage(const std::string& code) {
    for (const char* known : kLanguageCodes)
        if (code == known) return true;
    return false;
}

// The path part of an http(s) address, without its leading slash. Refuses
// what the program could not carry or a static tree could not serve.
std::string PathOf(const std::string& url, const char* what, bool fileName) {
    const std::size_t scheme = url.rfind("http://", 0) == 0 ? 7 : url.rfind("https://", 0) == 0 ? 8 : 0;
    if (!scheme) Fail(std::string(what) + " must start with http:// or https://: " + url);
    for (unsigned char c : url)
        if (c <= ' ' || c == 0x7F || c == '|' || c == '?' || c == '#')
            Fail(std::string(what) + " holds a blank, control character, '|', '?' or '#': " + url);
    const std::size_t slash = url.find('/', scheme);
    if (slash == std::string::npos || slash == scheme) Fail(std::string(what) + " has no host or path: " + url);
    std::string path = url.substr(slash + 1);
    // Every segment but a last empty one (a folder base ends in "/") names something.
    for (std::size_t begin = 0; begin < path.size();) {
        const std::size_t end = std::min(path.find('/', begin), path.size());
        const std::string segment = path.substr(begin, end - begin);
        if (segment.empty() || segment == "." || segment == "..")
            Fail(std::string(what) + " has an empty, '.' or '..' path segment: " + url);
        begin = end + 1;
    }
    if (fileName && (path.empty() || path.back() == '/'))
        Fail(std::string(what) + " must name a file, not a folder: " + url);
    return path;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 0; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag.rfind("--", 0) != 0) {
            if (!o.out.empty()) Fail("more than one output folder given: " + flag);
            o.out = flag;
            continue;
        }
        if (i + 1 >= argc) Fail(flag + " needs a value");
        const std::string value = argv[++i];
        if (flag == "--primary") o.primary = value;
        else if (flag == "--fallback") o.fallback = value;
        else if (flag == "--download-base") o.base = value;
        else if (flag == "--news") o.news = value;
        else if (flag == "--redirects") {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (*end || n < 0 || n > MAX_REDIRECTS_PER_SERVER)
                Fail("--redirects takes 0 to " + std::to_string(MAX_REDIRECTS_PER_SERVER) + ": " + value);
            o.redirects = static_cast<int>(n);
        } else if (flag == "--installer") {
            const std::size_t eq = value.find('=');
            if (eq == 3 && value.find('/') > eq) {
                const std::string language = value.substr(0, 3);
                if (!IsLanguage(language)) Fail("unknown language code " + language + " (known: CHT DEU ENG SPA FRE ITA JAP KOR DUT POR SWE)");
                o.installers[language] = value.substr(4);
            } else {
                o.installerForAll = value;
            }
        } else {
            Fail("unknown option " + flag);
        }
    }
    if (o.out.empty()) Fail("no output folder given");
    if (o.primary.empty() || o.fallback.empty() || o.base.empty())
        Fail("--primary, --fallback and --download-base are required");
    if (o.news.empty()) Fail("--news is required");
    if (o.installerForAll.empty() && o.installers.empty()) Fail("no --installer given");
    return o;
}

// The news text with CR LF line ends, which the status box needs to break lines.
std::string NewsWithCrLf(const Bytes& raw) {
    std::string news;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const unsigned char c = raw[i];
        if (c == 0) Fail("the news text holds a NUL byte, where the program would cut it");
        if (c == '\r' || c == '\n') {
            news += "\r\n";
            if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
        } else {
            news += static_cast<char>(c);
        }
    }
    return news;
}

std::string Scrambled(std::string plain) {
    if (plain.size() > TEXT_BUFFER_SIZE - 1)
        Fail("a configuration answer of " + std::to_string(plain.size()) + " bytes exceeds the program's " +
             std::to_string(TEXT_BUFFER_SIZE - 1) + "-byte read");
    Scramble(&plain[0]);
    return plain;
}

struct Tree {
    std::map<std::string, Bytes> files;  // path -> content (the installers by reference below)
    std::map<std::string, std::string> installerOf;  // path -> installer source
    void Add(const std::string& path, Bytes content) {
        if (files.count(path) || installerOf.count(path)) Fail("two files of the tree would both be " + path);
        files[path] = std::move(content);
    }
};

void AddConfigurationChain(Tree* tree, const std::string& url, const std::string& path, int redirects,
                           const std::string& finalAnswer) {
    for (int hop = 0; hop <= redirects; ++hop) {
        const std::string suffix = hop ? "-" + std::to_string(hop) : "";
        const std::string answer =
            hop < redirects ? "iFlag=1|sUrl=" + url + "-" + std::to_string(hop + 1) : finalAnswer;
        const std::string scrambled = Scrambled(answer);
        tree->Add(path + suffix, Bytes(scrambled.begin(), scrambled.end()));
    }
}

Tree BuildTree(const Options& o) {
    const std::string primaryPath = PathOf(o.primary, "the primary address", true);
    const std::string fallbackPath = PathOf(o.fallback, "the fallback address", true);
    const std::string basePath = PathOf(o.base, "the download base address", false);
    // The worker appends the installer name to the base in a 2,048-byte buffer.
    char longest[ADDRESS_BUFFER_SIZE] = {}, longestName[ADDRESS_BUFFER_SIZE] = {};
    if (o.base.size() >= ADDRESS_BUFFER_SIZE ||
        !ComposeAddresses(longest, sizeof longest, longestName, sizeof longestName, PREFIX_RECENT, "ENG") ||
        o.base.size() + std::strlen(longestName) >= ADDRESS_BUFFER_SIZE)
        Fail("the download base address has " + std::to_string(o.base.size()) +
             " characters; with the installer name it must stay under " + std::to_string(ADDRESS_BUFFER_SIZE) +
             " (at most " + std::to_string(ADDRESS_BUFFER_SIZE - 1 - std::strlen(longestName)) + ")");

    Tree tree;
    AddConfigurationChain(&tree, o.primary, primaryPath, o.redirects, "iFlag=0|sDlurl=" + o.base);
    AddConfigurationChain(&tree, o.fallback, fallbackPath, o.redirects, "iFlag=0|sDlurl=" + o.base);

    const std::string news = NewsWithCrLf(ReadBytes(o.news, "the news text"));
    std::map<std::string, std::string> sources = o.installers;
    if (!o.installerForAll.empty())
        for (const char* code : kLanguageCodes) sources.emplace(code, o.installerForAll);
    std::map<std::string, std::size_t> sizes;
    for (const auto& [language, source] : sources) {
        if (!sizes.count(source)) {
            const Bytes installer = ReadBytes(source, "the installer");
            if (installer.empty()) Fail("the installer " + source + " is empty");
            if (!IsWindowsExecutable(installer)) Fail("the installer " + source + " is not a Windows executable");
            if (installer.size() > INT32_MAX)
                Fail("the installer " + source + " is larger than the program can count (2 GiB - 1)");
            sizes[source] = installer.size();
        }
        const std::string info = std::to_string(sizes[source]) + "\r\n" + news;
        if (info.size() > TEXT_BUFFER_SIZE - 1)
            Fail("the news text is too long: the info file would have " + std::to_string(info.size()) +
                 " bytes, the program reads at most " + std::to_string(TEXT_BUFFER_SIZE - 1));
        for (const char* prefix : {PREFIX_RECENT, PREFIX_SYSTEM}) {
            char infoName[64] = {}, installerName[64] = {};
            ComposeAddresses(infoName, sizeof infoName, installerName, sizeof installerName, prefix, language.c_str());
            tree.Add(basePath + infoName, Bytes(info.begin(), info.end()));
            if (tree.files.count(basePath + installerName)) Fail("two files of the tree would both be " + basePath + installerName);
            tree.installerOf[basePath + installerName] = source;
        }
    }
    return tree;
}

void WriteFile(const fs::path& path, const Bytes& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    if (!out.flush()) Fail("cannot write " + path.string());
}

// Writes the tree under root; each installer once, linked under its other names.
void WriteTree(const Tree& tree, const fs::path& root, std::map<std::string, std::pair<std::size_t, std::string>>* manifest) {
    for (const auto& [path, content] : tree.files) {
        WriteFile(root / path, content);
        (*manifest)[path] = {content.size(), Sha256Hex(content.data(), content.size())};
    }
    std::map<std::string, std::string> storedAt;  // installer source -> first path written
    std::map<std::string, std::pair<std::size_t, std::string>> digests;
    for (const auto& [path, source] : tree.installerOf) {
        const auto first = storedAt.find(source);
        if (first == storedAt.end()) {
            const Bytes installer = ReadBytes(source, "the installer");
            WriteFile(root / path, installer);
            storedAt[source] = path;
            digests[source] = {installer.size(), Sha256Hex(installer.data(), installer.size())};
        } else {
            fs::create_directories((root / path).parent_path());
            std::error_code linkError;
            fs::create_hard_link(root / first->second, root / path, linkError);
            if (linkError) fs::copy_file(root / first->second, root / path);
        }
        (*manifest)[path] = digests[source];
    }
}

std::string ManifestText(const Options& o, const std::map<std::string, std::pair<std::size_t, std::string>>& files) {
    std::ostringstream json;
    json << "{\n  \"format\": \"" << kFormat << "\",\n  \"primary\": \"" << o.primary << "\",\n  \"fallback\": \""
         << o.fallback << "\",\n  \"download_base\": \"" << o.base << "\",\n  \"files\": [\n";
    std::size_t n = 0;
    for (const auto& [path, entry] : files)
        json << "    {\"path\": \"" << path << "\", \"size\": " << entry.first << ", \"sha256\": \"" << entry.second
             << "\"}" << (++n < files.size() ? ",\n" : "\n");
    json << "  ]\n}\n";
    return json.str();
}

bool IsEarlierPublish(const fs::path& out) {
    std::ifstream in(out / kManifest);
    std::string head(256, '\0');
    in.read(&head[0], static_cast<std::streamsize>(head.size()));
    return head.find(std::string("\"format\": \"") + kFormat + "\"") != std::string::npos;
}

void CheckOutputFolder(const fs::path& out) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(out, error);
    if (!fs::exists(status)) return;
    if (!fs::is_directory(status)) Fail("the output " + out.string() + " exists and is not a folder");
    if (!fs::is_empty(out) && !IsEarlierPublish(out))
        Fail("the output folder " + out.string() + " exists and is not an earlier publish (no " + kManifest + ")");
}

// Puts the finished tree in place of the output folder: swapped in one step
// where the kernel can (renameat2), so a server never sees half a tree.
void Install(const fs::path& staged, const fs::path& out) {
    if (fs::exists(out)) {
        if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, out.c_str(), RENAME_EXCHANGE) == 0) {
            fs::remove_all(staged);
            return;
        }
        fs::remove_all(out);
    }
    fs::rename(staged, out);
}

}  // namespace

int Publish(int argc, char** argv) {
    fs::path staged;
    try {
        const Options options = ParseOptions(argc, argv);
        const fs::path out = fs::absolute(options.out).lexically_normal();
        CheckOutputFolder(out);
        const Tree tree = BuildTree(options);
        staged = out.parent_path() / ("." + out.filename().string() + ".publishing-" + std::to_string(getpid()));
        fs::remove_all(staged);
        std::map<std::string, std::pair<std::size_t, std::string>> manifest;
        WriteTree(tree, staged, &manifest);
        const std::string text = ManifestText(options, manifest);
        WriteFile(staged / kManifest, Bytes(text.begin(), text.end()));
        Install(staged, out);
        std::printf("published %zu files (%zu installer names) to %s\n", manifest.size(), tree.installerOf.size(),
                    out.c_str());
        return 0;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "tembra_tool publish: %s\n", failure.message.c_str());
    } catch (const fs::filesystem_error& error) {
        std::fprintf(stderr, "tembra_tool publish: %s\n", error.what());
    }
    if (!staged.empty()) {
        std::error_code ignored;
        fs::remove_all(staged, ignored);
    }
    return 1;
}
