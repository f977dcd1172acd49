#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace kem::platform {
namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::string Slashes(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\\') {
            c = '/';
        }
    }
    return out;
}

// Resolves "." and ".." textually and drops repeated and trailing separators.
std::string Normalise(const std::string& path) {
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        out += (i == 0 ? "" : "/") + parts[i];
    }
    return out.empty() ? "." : out;
}

}  // namespace

std::string ExecutablePath() {
    std::string buffer(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0) {
        return {};
    }
    buffer.resize(static_cast<size_t>(length));
    return buffer;
}

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ExpandEnvironment(std::string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find('%', i);
        if (open == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, open - i));
        const size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(open));
            break;
        }
        const std::string name(text.substr(open + 1, close - open - 1));
        const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
        if (value != nullptr) {
            out.append(value);
            i = close + 1;
        } else {
            // Not a variable: keep the first '%' and look again from the second.
            out.push_back('%');
            out.append(name);
            i = close;
        }
    }
    return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    if (!name.empty() && IsSeparator(name[0])) {
        return Slashes(name);
    }
    std::string out = Slashes(folder);
    while (!out.empty() && out.back() == '/' && out.size() > 1) {
        out.pop_back();
    }
    if (name.empty()) {
        return out;
    }
    if (!out.empty() && out.back() != '/') {
        out.push_back('/');
    }
    return out + Slashes(name);
}

std::string AbsolutePath(std::string_view path) {
    if (path.empty()) {
        return {};
    }
    const std::string slashed = Slashes(path);
    if (slashed[0] == '/') {
        return Normalise(slashed);
    }
    std::string folder(4096, '\0');
    if (getcwd(folder.data(), folder.size()) == nullptr) {
        return Normalise(slashed);
    }
    folder.resize(folder.find('\0'));
    return Normalise(JoinPath(folder, slashed));
}

std::string ResolveBesideExecutable(std::string_view path) {
    const std::string expanded = Slashes(ExpandEnvironment(path));
    if (!expanded.empty() && expanded[0] == '/') {
        return Normalise(expanded);
    }
    return Normalise(JoinPath(ExecutableFolder(), expanded));
}

}  // namespace kem::platform
