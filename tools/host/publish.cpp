// The tree mirrors the addresses: the answer of a configuration server
// http://host/path lies at OUT/path, an installer of the download base
// http://host/files/ at OUT/files/<name>. Every server can then serve the
// same tree as it is (nginx, any static web server, an object store); host
// names are not part of it, so the addresses' paths must differ.
//
//   OUT/<primary path>          scrambled answer (redirect or final)
//   OUT/<primary path>-1 ...    further redirects, the last one final (the
//                               mirrors, and a pin per installer name)
//   OUT/<fallback path>, ...    the same for the fallback
//   OUT/<base path>p_Vrimal_{reg,sys}_<LANG>.<LANG>   info file
//   OUT/<base path>p_Vrimal_{reg,sys}_<LANG>.exe      installer (hard links)
//   OUT/<mirror path>...        the same for a mirror on a path of its own
//   OUT/manifest.json           every other file with size and SHA-256, and
//                               what `tembra_tool check` asks the servers
#include "publish.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "download/constants.h"
#include "download/discovery.h"
#include "download/installer_pin.h"
#include "download/languages.h"
#include "download/mirrors.h"
#include "download/package_rules.h"
#include "download/scramble.h"
#include "file_io.h"
#include "options.h"
#include "pe_image.h"
#include "sha256.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

const char kManifest[] = "manifest.json";
// 3: the final answers carry mirrors and pins, which the manifest records.
const char kFormat[] = "tembra-publish/3";
const char kFormatFamily[] = "tembra-publish/";
constexpr std::size_t kPiece = 1 << 20;

const char kHelp[] =
    "usage: tembra_tool publish OUT --primary URL --fallback URL --download-base URL/\n"
    "                           --news FILE --installer SPEC ... [--mirror URL/ ...]\n"
    "                           [--redirects N]\n"
    "Writes to the folder OUT the static tree the configuration and download servers\n"
    "serve: the scrambled answers at the paths of the two configuration addresses,\n"
    "and per language and package variant an info file and the installer under the\n"
    "download base's path. The two configuration addresses must be the ones the\n"
    "program was built with, and their paths must differ. Each final answer pins\n"
    "every installer it names (size and SHA-256), so that the program can prove a\n"
    "download whole whichever server delivered it.\n"
    "  --installer FILE           the installer of every language and variant\n"
    "  --installer LANG=FILE      one language's (CHT DEU ENG SPA FRE ITA JAP KOR DUT POR SWE)\n"
    "  --installer reg:FILE       the variant for systems with recent libraries (p_Vrimal_reg_)\n"
    "  --installer sys:FILE       the variant for the others (p_Vrimal_sys_)\n"
    "  --installer sys:LANG=FILE  one language's installer of one variant\n"
    "  (the most specific wins: variant and language, language, variant, all)\n"
    "  --mirror URL/              a further download base, tried in order when one\n"
    "                             fails (at most 4); its path holds the same files\n"
    "  --redirects N              N redirects (0 to 16) in front of each final answer\n"
    "OUT is replaced in one step, and only when it is missing, empty or an earlier publish.\n";

struct Address {
    std::string text, scheme, host;
    int port = 0;
    std::string treePath;  // the decoded path without its leading "/"
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses an http(s) address strictly. The tree path is the path with its
// percent-encoding decoded, as a web server maps it to a file name.
Address ParseAddress(const std::string& url, const std::string& what, bool folder) {
    Address a;
    a.text = url;
    auto bad = [&](const std::string& why) { Fail(what + " " + url + ": " + why); };
    const std::size_t colon = url.find("://");
    a.scheme = colon == std::string::npos ? "" : url.substr(0, colon);
    for (char& c : a.scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (a.scheme != "http" && a.scheme != "https") bad("must start with http:// or https://");
    for (unsigned char c : url)
        if (c <= ' ' || c >= 0x7F || c == '|' || c == '?' || c == '#' || c == '\\')
            bad("holds a blank, a control or non-ASCII character, '|', '?', '#' or '\\'");
    const std::size_t authority = colon + 3, slash = url.find('/', authority);
    if (slash == std::string::npos) bad("has no path");
    const std::string hostPort = url.substr(authority, slash - authority);
    if (hostPort.find('@') != std::string::npos) bad("may not carry a user name or password");
    std::string portText;
    if (!hostPort.empty() && hostPort[0] == '[') {
        const std::size_t close = hostPort.find(']');
        if (close == std::string::npos) bad("has an unclosed IPv6 address");
        a.host = hostPort.substr(0, close + 1);
        if (close + 1 < hostPort.size()) {
            if (hostPort[close + 1] != ':') bad("has something after the IPv6 address that is not a port");
            portText = hostPort.substr(close + 2);
            if (portText.empty()) bad("has an empty port");
        }
        for (char c : a.host.substr(1, a.host.size() - 2))
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') bad("has a malformed IPv6 address");
        if (a.host.size() < 4) bad("has an empty host");
    } else {
        const std::size_t portColon = hostPort.find(':');
        a.host = hostPort.substr(0, portColon);
        if (portColon != std::string::npos) {
            portText = hostPort.substr(portColon + 1);
            if (portText.empty()) bad("has an empty port");
        }
        if (a.host.empty()) bad("has no host");
        for (char c : a.host)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') bad("has a malformed host name");
    }
    a.port = a.scheme == "https" ? 443 : 80;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(portText) < 1 || std::stoi(portText) > 65535)
            bad("has a port that is not 1 to 65535");
        a.port = std::stoi(portText);
    }
    const std::string path = url.substr(slash + 1);
    if (folder && !path.empty() && path.back() != '/') bad("must end in '/' (the program appends the file names)");
    if (!folder && (path.empty() || path.back() == '/')) bad("must name a file, not a folder");
    // Decode segment by segment: a decoded '/' or NUL would change which file is meant.
    for (std::size_t begin = 0; begin < path.size();) {
        const std::size_t end = std::min(path.find('/', begin), path.size());
        std::string segment;
        for (std::size_t i = begin; i < end; ++i) {
            if (path[i] != '%') {
                segment += path[i];
                continue;
            }
            if (i + 2 >= end || HexValue(path[i + 1]) < 0 || HexValue(path[i + 2]) < 0)
                bad("has a malformed percent-encoding");
            const char decoded = static_cast<char>(HexValue(path[i + 1]) * 16 + HexValue(path[i + 2]));
            if (decoded == '/' || decoded == '\\' || static_cast<unsigned char>(decoded) < 0x20 || decoded == 0x7F)
                bad("has a percent-encoded '/', '\\' or control character, which no file name can hold");
            segment += decoded;
            i += 2;
        }
        if (segment.empty() || segment == "." || segment == "..") bad("has an empty, '.' or '..' path segment");
        a.treePath += segment + (end < path.size() ? "/" : "");
        begin = end + 1;
    }
    try {  // the manifest names every path, and JSON holds UTF-8 only
        (void)Json(a.treePath).dump();
    } catch (const nlohmann::json::exception&) {
        bad("decodes to a file name that is not UTF-8");
    }
    return a;
}

struct Variant {
    const char* tag;     // "reg" or "sys", as the option spells it
    const char* prefix;  // the file name prefix the program asks for
};
const Variant kVariants[] = {{"reg", PREFIX_RECENT}, {"sys", PREFIX_SYSTEM}};

bool IsLanguage(const std::string& code) {
    for (const char* known : kLanguageCodes)
        if (code == known) return true;
    return false;
}

struct Options {
    std::string out;
    Address primary, fallback, base;
    std::vector<Address> mirrors;  // in the order the program tries them
    std::string news;
    // (variant tag or "", language or "") -> installer file
    std::map<std::pair<std::string, std::string>, std::string> installers;
    int redirects = 0;
};

Options ParseOptions(const CommandLine& line) {
    Options o;
    o.out = line.positionals[0];
    for (const char* required : {"--primary", "--fallback", "--download-base", "--news", "--installer"})
        if (!line.Has(required)) Fail(std::string(required) + " is required (see --help)");
    o.primary = ParseAddress(line.Get("--primary"), "the primary address", false);
    o.fallback = ParseAddress(line.Get("--fallback"), "the fallback address", false);
    o.base = ParseAddress(line.Get("--download-base"), "the download base", true);
    if (line.Has("--mirror")) {
        const std::vector<std::string>& urls = line.values.at("--mirror");
        if (urls.size() > static_cast<std::size_t>(MAX_MIRRORS))
            Fail("--mirror is given " + std::to_string(urls.size()) + " times; the program reads at most " +
                 std::to_string(MAX_MIRRORS) + " mirrors");
        for (const std::string& url : urls) {
            o.mirrors.push_back(ParseAddress(url, "--mirror", true));
            if (url == o.base.text) Fail("--mirror " + url + ": is the download base already");
            for (std::size_t i = 0; i + 1 < o.mirrors.size(); ++i)
                if (o.mirrors[i].text == url) Fail("--mirror " + url + ": is given twice");
        }
    }
    o.news = line.Get("--news");
    if (line.Has("--redirects")) {
        const std::string value = line.Get("--redirects");
        if (value.size() > 2 || value.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(value) > MAX_REDIRECTS_PER_SERVER)
            Fail("--redirects takes 0 to " + std::to_string(MAX_REDIRECTS_PER_SERVER) + ", not '" + value + "'");
        o.redirects = std::stoi(value);
    }
    for (const std::string& spec : line.values.at("--installer")) {
        std::string rest = spec, variant, language;
        if (rest.rfind("reg:", 0) == 0 || rest.rfind("sys:", 0) == 0) {
            variant = rest.substr(0, 3);
            rest = rest.substr(4);
        }
        const std::size_t eq = rest.find('=');
        if (eq == 3 && rest.find('/') > eq) {
            language = rest.substr(0, 3);
            if (!IsLanguage(language))
                Fail("--installer " + spec + ": unknown language code " + language +
                     " (known: CHT DEU ENG SPA FRE ITA JAP KOR DUT POR SWE)");
            rest = rest.substr(4);
        }
        if (rest.empty()) Fail("--installer " + spec + ": no file given");
        if (!o.installers.emplace(std::make_pair(variant, language), rest).second)
            Fail("--installer " + spec + ": an installer for " + (variant.empty() ? "every variant" : variant) +
                 (language.empty() ? " of every language" : " of " + language) + " is already given");
    }
    return o;
}

// The news text with CR LF line ends, which the status box needs to break lines.
std::string NewsWithCrLf(const std::string& path) {
    const InputFile in(path, "the news text");
    if (in.size() > TEXT_BUFFER_SIZE) Fail("the news text " + path + " is too long: the info file would exceed the program's " +
                                           std::to_string(TEXT_BUFFER_SIZE - 1) + "-byte read");
    std::string raw(static_cast<std::size_t>(in.size()), '\0');
    in.ReadAt(0, &raw[0], raw.size());
    std::string news;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == 0) Fail("the news text " + path + " holds a NUL byte, where the program would cut it");
        if (c == '\r' || c == '\n') {
            news += "\r\n";
            if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
        } else {
            news += c;
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

struct Installer {
    std::shared_ptr<InputFile> file;
    std::string sha256;  // set once written
};

struct Tree {
    std::map<std::string, std::string> files;          // path -> content
    std::map<std::string, std::string> installerOf;    // path -> installer source
    std::map<std::string, Installer> installers;       // source -> opened file
    Json answers = Json::array(), downloads = Json::array();
    // The final answers' paths: their pins are known once the installers
    // are hashed, as they are copied.
    std::vector<std::string> finalAnswers;
    std::vector<std::pair<std::string, std::string>> pinned;  // installer name -> source, in answer order

    void Claim(const std::string& path) {
        if (path == kManifest || path.rfind(std::string(kManifest) + "/", 0) == 0)
            Fail("an address's path would be " + path + ", where the tree keeps its manifest");
        if (files.count(path) || installerOf.count(path)) Fail("two files of the tree would both be " + path);
        // A file may not also be a folder of another file.
        for (const auto* names : {&files, &installerOf})
            for (const auto& [other, unused] : *names)
                if (other.rfind(path + "/", 0) == 0 || path.rfind(other + "/", 0) == 0)
                    Fail("the tree would need " + (other.size() < path.size() ? other : path) +
                         " as both a file and a folder");
    }
    void Add(const std::string& path, std::string content) {
        Claim(path);
        files[path] = std::move(content);
    }
};

void AddConfigurationChain(Tree* tree, const Address& server, int redirects, const std::string& finalAnswer) {
    for (int hop = 0; hop <= redirects; ++hop) {
        const std::string suffix = hop ? "-" + std::to_string(hop) : "";
        const std::string next = server.text + "-" + std::to_string(hop + 1);
        const std::string answer = hop < redirects ? "iFlag=1|sUrl=" + next : finalAnswer;
        tree->Add(server.treePath + suffix, Scrambled(answer));
        tree->answers.push_back({{"url", server.text + suffix}, {"path", server.treePath + suffix}});
    }
    tree->finalAnswers.push_back(server.treePath + (redirects ? "-" + std::to_string(redirects) : ""));
}

// A pin as the program reads it: "<size>:<SHA-256 in lower-case hex>".
std::string PinText(const Installer& installer) {
    const std::string digest = installer.sha256.empty() ? std::string(2 * PIN_DIGEST_SIZE, '0') : installer.sha256;
    return std::to_string(installer.file->size()) + ":" + digest;
}

// The answer that ends each chain: the download base, the mirrors in order
// and a pin per installer name. Until the installers are hashed their pins
// hold zeros, which take the same room, so the answer's size is known early.
std::string FinalAnswer(const Options& o, const Tree& tree) {
    std::string answer = "iFlag=0|sDlurl=" + o.base.text;
    for (std::size_t i = 0; i < o.mirrors.size(); ++i)
        answer += "|" + std::string(MIRROR_KEY_PREFIX) + std::to_string(i + 1) + "=" + o.mirrors[i].text;
    for (const auto& [name, source] : tree.pinned)
        answer += "|" + std::string(PIN_KEY_PREFIX) + name + "=" + PinText(tree.installers.at(source));
    return answer;
}

Installer OpenInstaller(const std::string& source) {
    Installer installer{std::make_shared<InputFile>(source, "the installer"), ""};
    const InputFile& in = *installer.file;
    // Judged by its size first: nothing of a file too large is read.
    if (in.size() == 0) Fail("the installer " + source + " is empty");
    if (in.size() > INT32_MAX)
        Fail("the installer " + source + " has " + std::to_string(in.size()) +
             " bytes, more than the program can count (2 GiB - 1)");
    PeLayout layout;
    const std::string error = ReadPeLayout(
        [&in](std::uint64_t offset, void* buffer, std::size_t n) { return in.TryReadAt(offset, buffer, n); },
        in.size(), &layout);
    if (!error.empty()) Fail("the installer " + source + " is not a whole Windows executable: " + error);
    return installer;
}

// The worker appends the installer name to a base in a 2,048-byte buffer.
void CheckFitsDownloadAddress(const Address& base, const std::string& what) {
    char longest[ADDRESS_BUFFER_SIZE] = {}, longestName[ADDRESS_BUFFER_SIZE] = {};
    if (base.text.size() >= ADDRESS_BUFFER_SIZE ||
        !ComposeAddresses(longest, sizeof longest, longestName, sizeof longestName, PREFIX_RECENT, "ENG") ||
        base.text.size() + std::strlen(longestName) >= ADDRESS_BUFFER_SIZE)
        Fail(what + " has " + std::to_string(base.text.size()) +
             " characters; with the installer name it must stay under " + std::to_string(ADDRESS_BUFFER_SIZE) +
             " (at most " + std::to_string(ADDRESS_BUFFER_SIZE - 1 - std::strlen(longestName)) + ")");
}

Tree BuildTree(const Options& o) {
    CheckFitsDownloadAddress(o.base, "the download base address");
    // Every base serves the same files; bases on one path share them.
    std::vector<std::string> basePaths = {o.base.treePath};
    for (std::size_t i = 0; i < o.mirrors.size(); ++i) {
        CheckFitsDownloadAddress(o.mirrors[i], "--mirror number " + std::to_string(i + 1));
        if (std::find(basePaths.begin(), basePaths.end(), o.mirrors[i].treePath) == basePaths.end())
            basePaths.push_back(o.mirrors[i].treePath);
    }

    Tree tree;

    const std::string news = NewsWithCrLf(o.news);
    for (const char* language : kLanguageCodes) {
        std::string published;  // the variant found for this language, to catch a missing twin
        for (const Variant& variant : kVariants) {
            std::string source;
            for (const auto& key : {std::make_pair(std::string(variant.tag), std::string(language)),
                                    std::make_pair(std::string(), std::string(language)),
                                    std::make_pair(std::string(variant.tag), std::string()),
                                    std::make_pair(std::string(), std::string())}) {
                const auto it = o.installers.find(key);
                if (it != o.installers.end()) {
                    source = it->second;
                    break;
                }
            }
            if (source.empty()) {
                if (!published.empty())
                    Fail(std::string(language) + " has an installer for the " + published + " variant but none for " +
                         variant.tag + " (every system asks for one of the two)");
                continue;
            }
            if (published.empty() && &variant != &kVariants[0])
                Fail(std::string(language) + " has an installer for the sys variant but none for reg "
                     "(every system asks for one of the two)");
            published = variant.tag;
            if (!tree.installers.count(source)) tree.installers[source] = OpenInstaller(source);
            const std::uint64_t size = tree.installers[source].file->size();
            const std::string info = std::to_string(size) + "\r\n" + news;
            if (info.size() > TEXT_BUFFER_SIZE - 1)
                Fail("the news text " + o.news + " is too long: the info file would have " +
                     std::to_string(info.size()) + " bytes, the program reads at most " +
                     std::to_string(TEXT_BUFFER_SIZE - 1));
            char infoName[64] = {}, installerName[64] = {};
            ComposeAddresses(infoName, sizeof infoName, installerName, sizeof installerName, variant.prefix, language);
            for (const std::string& basePath : basePaths) {
                tree.Add(basePath + infoName, info);
                tree.Claim(basePath + installerName);
                tree.installerOf[basePath + installerName] = source;
            }
            tree.pinned.emplace_back(installerName, source);
            tree.downloads.push_back({{"language", language},
                                      {"variant", variant.prefix},
                                      {"info", o.base.treePath + infoName},
                                      {"installer", o.base.treePath + installerName},
                                      {"source", source},
                                      {"size", size}});
        }
    }
    // Claimed now, so that a clash is found before anything is written, and
    // sized now with pins of zeros; written with the pins once the installers
    // are hashed.
    const std::string answer = FinalAnswer(o, tree);
    AddConfigurationChain(&tree, o.primary, o.redirects, answer);
    AddConfigurationChain(&tree, o.fallback, o.redirects, answer);
    return tree;
}

void MakeParents(const fs::path& path, const std::string& shownAs) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) Fail(shownAs + ": " + error.message());
}

// Streams an installer into the tree, hashing what it copies.
std::string CopyInstaller(const InputFile& in, const fs::path& to, const std::string& shownAs) {
    MakeParents(to, shownAs);
    OutputFile out(to.string(), shownAs, 0644);
    Sha256 sha;
    std::vector<unsigned char> piece(kPiece);
    for (std::uint64_t at = 0; at < in.size();) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, in.size() - at));
        in.ReadAt(at, piece.data(), n);
        sha.Update(piece.data(), n);
        out.Write(piece.data(), n);
        at += n;
    }
    out.Close();
    return sha.HexDigest();
}

// Writes the tree under root; each installer once, linked under its other
// names, then the final answers with the pins that copying them gave.
Json WriteTree(Tree* tree, const Options& o, const fs::path& root, const fs::path& shownRoot) {
    Json files = Json::array();
    std::map<std::string, Json> entries;
    std::map<std::string, std::string> storedAt;  // installer source -> first path written
    for (const auto& [path, source] : tree->installerOf) {
        Installer& installer = tree->installers[source];
        const std::string shown = (shownRoot / path).string();
        const auto first = storedAt.find(source);
        if (first == storedAt.end()) {
            installer.sha256 = CopyInstaller(*installer.file, root / path, shown);
            storedAt[source] = path;
        } else {
            MakeParents(root / path, shown);
            std::error_code linkError;
            fs::create_hard_link(root / first->second, root / path, linkError);
            if (linkError) fs::copy_file(root / first->second, root / path, linkError);
            if (linkError) Fail(shown + ": " + linkError.message());
        }
        entries[path] = {{"path", path}, {"size", installer.file->size()}, {"sha256", installer.sha256}};
    }
    const std::string answer = Scrambled(FinalAnswer(o, *tree));
    for (const std::string& path : tree->finalAnswers) tree->files[path] = answer;
    for (const auto& [path, content] : tree->files) {
        MakeParents(root / path, (shownRoot / path).string());
        OutputFile out((root / path).string(), (shownRoot / path).string(), 0644);
        out.Write(content.data(), content.size());
        out.Close();
        entries[path] = {{"path", path}, {"size", content.size()}, {"sha256", Sha256Hex(content.data(), content.size())}};
    }
    for (auto& [path, entry] : entries) files.push_back(std::move(entry));
    for (Json& download : tree->downloads) download["sha256"] = tree->installers[download["source"]].sha256;
    return files;
}

// An earlier publish is recognised by its manifest, read as JSON.
bool IsEarlierPublish(const fs::path& out) {
    const std::string path = (out / kManifest).string();
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (64 << 20)) return false;
    const InputFile in(path, "");
    std::string text(static_cast<std::size_t>(in.size()), '\0');
    in.ReadAt(0, &text[0], text.size());
    const Json manifest = Json::parse(text, nullptr, false);
    return manifest.is_object() && manifest.contains("format") && manifest["format"].is_string() &&
           manifest["format"].get<std::string>().rfind(kFormatFamily, 0) == 0;
}

void CheckOutputFolder(const fs::path& out) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(out, error);
    if (!fs::exists(status)) return;
    if (!fs::is_directory(status)) Fail("the output " + out.string() + " exists and is not a folder");
    const bool empty = fs::is_empty(out, error);
    if (error) Fail(out.string() + ": " + error.message());
    if (!empty && !IsEarlierPublish(out))
        Fail("the output folder " + out.string() + " exists and is not an earlier publish (no " + kManifest + ")");
}

// Puts the finished tree in place of the output folder: swapped in one step
// where the kernel can (renameat2), so a server never sees half a tree.
void Install(const fs::path& staged, const fs::path& out) {
    std::error_code ignored;
    if (fs::exists(out)) {
        if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, out.c_str(), RENAME_EXCHANGE) == 0) {
            fs::remove_all(staged, ignored);  // the earlier tree, now under the staging name
            return;
        }
        const fs::path old = staged.string() + "-old";
        if (rename(out.c_str(), old.c_str()) != 0) FailSystem(out.string(), errno);
        if (rename(staged.c_str(), out.c_str()) != 0) {
            const int reason = errno;
            rename(old.c_str(), out.c_str());
            FailSystem(out.string(), reason);
        }
        fs::remove_all(old, ignored);
        return;
    }
    if (rename(staged.c_str(), out.c_str()) != 0) FailSystem(out.string(), errno);
}

// A pin authenticates a download over plain http only where the answer that
// carries it is authentic, that is where it came over https. Programs that
// read mirrors also check pins, so a pinned http mirror behind https
// answers is no risk; the download base is, for copies of the program built
// before pins, which take whatever arrives there.
void WarnOfPlainHttp(const Options& o) {
    const Address* plainAnswers = o.primary.scheme == "http" ? &o.primary
                                  : o.fallback.scheme == "http" ? &o.fallback
                                                                : nullptr;
    std::vector<std::pair<std::string, const Address*>> bases = {{"download base", &o.base}};
    for (const Address& mirror : o.mirrors) bases.emplace_back("mirror", &mirror);
    for (const auto& [what, base] : bases) {
        if (base->scheme != "http") continue;
        if (plainAnswers)
            std::fprintf(stderr,
                         "tembra_tool publish: warning: the %s %s is plain http, and so is the configuration "
                         "address %s whose answer pins the installers: anyone on the network path can supply "
                         "the installer, which runs elevated, unless the program is built with "
                         "TEMBRA_INSTALLER_SIGNER\n",
                         what.c_str(), base->text.c_str(), plainAnswers->text.c_str());
        else if (base == &o.base)
            std::fprintf(stderr,
                         "tembra_tool publish: warning: the download base %s is plain http: the pins of the https "
                         "answers authenticate the installer, but a copy of the program built before pins takes "
                         "whatever arrives there and runs it elevated, unless built with TEMBRA_INSTALLER_SIGNER\n",
                         base->text.c_str());
    }
}

}  // namespace

int Publish(int argc, char** argv) {
    fs::path staged;
    try {
        const CommandLine line = ParseCommandLine(
            argc, argv,
            {{"--primary", false}, {"--fallback", false}, {"--download-base", false}, {"--news", false},
             {"--installer", true}, {"--mirror", true}, {"--redirects", false}},
            {"OUT"});
        if (line.help) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        const Options options = ParseOptions(line);
        const fs::path out = NormalizeTarget(options.out);
        if (out == out.root_path()) Fail("the output folder cannot be the root folder");
        CheckOutputFolder(out);
        Tree tree = BuildTree(options);
        staged = out.parent_path() / ("." + out.filename().string() + ".publishing-" + std::to_string(getpid()));
        std::error_code ignored;
        fs::remove_all(staged, ignored);
        if (mkdir(staged.c_str(), 0755) != 0) FailSystem(staged.string(), errno);
        Json files = WriteTree(&tree, options, staged, out);
        for (Json& download : tree.downloads) download.erase("source");
        Json mirrors = Json::array(), pins = Json::object();
        for (const Address& mirror : options.mirrors) mirrors.push_back(mirror.text);
        for (const auto& [name, source] : tree.pinned) pins[name] = PinText(tree.installers.at(source));
        const std::size_t answerSize = FinalAnswer(options, tree).size();
        Json manifest = {{"format", kFormat},
                         {"primary", options.primary.text},
                         {"fallback", options.fallback.text},
                         {"download_base", options.base.text},
                         {"mirrors", mirrors},
                         {"pins", pins},
                         {"redirects", options.redirects},
                         {"answers", tree.answers},
                         {"downloads", tree.downloads},
                         {"files", files}};
        const std::string text = manifest.dump(2) + "\n";
        OutputFile manifestFile((staged / kManifest).string(), (out / kManifest).string(), 0644);
        manifestFile.Write(text.data(), text.size());
        manifestFile.Close();
        Install(staged, out);
        staged.clear();
        WarnOfPlainHttp(options);
        std::printf("published %zu files (%zu installer names) to %s; each final answer has %zu bytes, the "
                    "program reads %zu\n",
                    files.size(), tree.installerOf.size(), out.c_str(), answerSize, TEXT_BUFFER_SIZE - 1);
        if (std::fflush(stdout) != 0) FailSystem("standard output", errno);
        return 0;
    } catch (const ToolError& failure) {
        std::fprintf(stderr, "tembra_tool publish: %s\n", failure.message.c_str());
    } catch (const std::exception& error) {  // filesystem or JSON errors not caught at their place
        std::fprintf(stderr, "tembra_tool publish: %s\n", error.what());
    }
    if (!staged.empty()) {
        std::error_code ignored;
        fs::remove_all(staged, ignored);
    }
    return 1;
}
