#include "platform/desktop_association.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"

extern char** environ;

namespace kem::platform {
namespace {

// Escapes the characters that XML text may not hold literally.
std::string XmlText(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

// The OS error of a failed file step; a step the OS did not fail itself still counts as one.
OsError FailureOf(const FileError& error) {
    return error.os.failed() ? error.os : MakeOsError(EIO);
}

// A mimeapps.list larger than this is not one to rewrite.
constexpr size_t kMimeappsLimit = 1 << 20;

std::string UserFolder(const char* variable, const char* fallback_below_home) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    const char* home = std::getenv("HOME");
    return JoinPath(home != nullptr ? home : "/", fallback_below_home);
}

// Runs `program` with `argument` if it is installed, and waits for it; its result is not
// needed, since the files are in place either way.
void RunIfInstalled(const char* program, const std::string& argument) {
    std::vector<char*> argv = {const_cast<char*>(program), const_cast<char*>(argument.c_str()),
                               nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(child, &status, 0);
    }
}

}  // namespace

std::string ConfigMimePackage(std::string_view comment) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    xml += "  <mime-type type=\"" + std::string(kConfigMimeType) + "\">\n";
    xml += "    <comment>" + XmlText(comment) + "</comment>\n";
    xml += "    <glob pattern=\"*.pvto\"/>\n";
    xml += "  </mime-type>\n";
    xml += "</mime-info>\n";
    return xml;
}

std::string QuoteExecArgument(std::string_view argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted.push_back('\\');
        }
        quoted.push_back(c);
    }
    quoted.push_back('"');
    // The Exec value is itself a desktop-entry string, in which a backslash is escaped again.
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') {
            escaped.push_back('\\');
        }
        escaped.push_back(c);
    }
    return escaped;
}

std::string ConfigDesktopEntry(std::string_view executable) {
    std::string entry = "[Desktop Entry]\n";
    entry += "Type=Application\n";
    entry += "Name=KemPemvilo\n";
    entry += "Comment=Serial and TCP terminal\n";
    entry += "Exec=" + QuoteExecArgument(executable) + " %f\n";
    entry += "MimeType=" + std::string(kConfigMimeType) + ";\n";
    entry += "Terminal=false\n";
    entry += "Categories=Development;\n";
    return entry;
}

std::string WithDefaultApplication(std::string_view mimeapps) {
    const std::string line = std::string(kConfigMimeType) + "=" + std::string(kDesktopEntryName);
    const std::string key = std::string(kConfigMimeType) + "=";
    std::string out;
    bool in_defaults = false;
    bool written = false;
    size_t start = 0;
    while (start < mimeapps.size()) {
        size_t end = mimeapps.find('\n', start);
        if (end == std::string_view::npos) {
            end = mimeapps.size();
        }
        const std::string_view current = mimeapps.substr(start, end - start);
        start = end + 1;
        if (!current.empty() && current[0] == '[') {
            if (in_defaults && !written) {
                out += line + "\n";
                written = true;
            }
            in_defaults = current.substr(0, 22) == "[Default Applications]";
        } else if (in_defaults && current.substr(0, key.size()) == key) {
            if (!written) {
                out += line + "\n";
                written = true;
            }
            continue;
        }
        out.append(current);
        out.push_back('\n');
    }
    if (!written) {
        if (!in_defaults) {
            if (!out.empty() && out != "\n") {
                out += "\n";
            }
            out += "[Default Applications]\n";
        }
        out += line + "\n";
    }
    return out;
}

OsError RegisterConfigAssociation(std::string_view executable, std::string_view comment) {
    const std::string data = UserFolder("XDG_DATA_HOME", ".local/share");
    const std::string config = UserFolder("XDG_CONFIG_HOME", ".config");
    const std::string mime_folder = JoinPath(data, "mime");
    const std::string applications = JoinPath(data, "applications");
    const std::string mimeapps_path = JoinPath(config, "mimeapps.list");

    const FileContent existing = ReadWholeFile(mimeapps_path, kMimeappsLimit);
    if (existing.status == FileStatus::kUnreadable) {
        return FailureOf(existing.error);  // never replace a list that could not be read
    }
    const struct {
        std::string path;
        std::string bytes;
    } files[] = {
        {JoinPath(mime_folder, "packages/kempemvilo-pvto.xml"), ConfigMimePackage(comment)},
        {JoinPath(applications, kDesktopEntryName), ConfigDesktopEntry(executable)},
        {mimeapps_path, WithDefaultApplication(existing.bytes)},
    };
    for (const auto& file : files) {
        if (const FolderResult folder = CreateFolderTree(FolderOf(file.path));
            folder.error.failed()) {
            return FailureOf(folder.error);
        }
        if (const FileError error = ReplaceFile(file.path, file.bytes); error.failed()) {
            return FailureOf(error);
        }
    }
    RunIfInstalled("update-mime-database", mime_folder);
    RunIfInstalled("update-desktop-database", applications);
    return {};
}

}  // namespace kem::platform
