// tests/support/FakeTools.cpp - recording fake tools in a private folder.
#include "tests/support/FakeTools.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace jex::test {

namespace {

void Save(const char* AName, std::string& AValue, bool& AHad) {
    const char* value = std::getenv(AName);
    AHad = value != nullptr;
    if (AHad)
        AValue = value;
}

void Restore(const char* AName, const std::string& AValue, bool AHad) {
    if (AHad)
        setenv(AName, AValue.c_str(), 1);
    else
        unsetenv(AName);
}

// The script records into <name>.args.tmp / <name>.in.tmp and renames at the end, so that a
// test polling for a tool started in the background never reads half a record.
std::string RecordingScript(const std::string& ADir, const std::string& AName) {
    const std::string base = "'" + ADir + "/" + AName;
    std::string script = ": > " + base +
                         ".args.tmp'\n"
                         "for a in \"$@\"; do printf '%s\\0' \"$a\" >> " +
                         base + ".args.tmp'; done\n";
    if (AName == "sendmail")
        script += "cat > " + base + ".in'\n";
    script += "code=0\n"
              "if [ -f " +
              base + ".exit' ]; then read code < " + base +
              ".exit'; fi\n"
              "mv " +
              base + ".args.tmp' " + base +
              ".args'\n"
              "exit $code\n";
    return script;
}

} // namespace

FakeTools::FakeTools() {
    for (const char* tool : {"xdg-email", "xdg-open", "sendmail"})
        Replace(tool, RecordingScript(FDir.Path().string(), tool));
    FMail = platform::NewLinuxMailClient({FDir.Path().string(), FDir.File("sendmail")});
    FShell = platform::NewLinuxShell(FDir.Path().string());
    FServices = std::make_unique<platform::TScopedPlatformServices>(
        platform::TPlatformServices{nullptr, nullptr, FMail.get(), FShell.get()});
    Save("DISPLAY", FOldDisplay, FHadDisplay);
    unsetenv("DISPLAY");
}

FakeTools::~FakeTools() {
    Restore("DISPLAY", FOldDisplay, FHadDisplay);
}

bool FakeTools::Ran(const std::string& ATool) const {
    return access(FDir.File(ATool + ".args").c_str(), F_OK) == 0;
}

std::vector<std::string> FakeTools::Args(const std::string& ATool) const {
    const std::string raw = ReadFileBytes(FDir.File(ATool + ".args"));
    std::vector<std::string> args;
    std::size_t start = 0;
    for (std::size_t end; (end = raw.find('\0', start)) != std::string::npos; start = end + 1)
        args.push_back(raw.substr(start, end - start));
    return args;
}

std::string FakeTools::Input(const std::string& ATool) const {
    return ReadFileBytes(FDir.File(ATool + ".in"));
}

void FakeTools::SetExitCode(const std::string& ATool, int ACode) {
    WriteFileBytes(FDir.File(ATool + ".exit"), std::to_string(ACode) + "\n");
}

void FakeTools::Replace(const std::string& ATool, const std::string& ABody) {
    const std::string path = FDir.File(ATool);
    WriteFileBytes(path, "#!/bin/sh\n" + ABody);
    chmod(path.c_str(), 0755);
}

void FakeTools::Remove(const std::string& ATool) {
    unlink(FDir.File(ATool).c_str());
}

void FakeTools::Reset() {
    for (const char* tool : {"xdg-email", "xdg-open", "sendmail"}) {
        unlink(FDir.File(std::string(tool) + ".args").c_str());
        unlink(FDir.File(std::string(tool) + ".in").c_str());
    }
}

bool FakeTools::WaitFor(const std::string& ATool, int AMilliseconds) const {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(AMilliseconds);
    while (!Ran(ATool)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string RunPython(const std::string& AScript, const std::vector<std::string>& AArgs,
                      bool& AOk) {
    AOk = false;
    TempDir dir;
    const std::string script = dir.File("check.py");
    WriteFileBytes(script, AScript);
    std::string command = "python3 '" + script + "'";
    for (const std::string& arg : AArgs)
        command += " '" + arg + "'"; // test-made paths only: no quotes inside
    command += " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {};
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pclose(pipe);
    AOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return output;
}

} // namespace jex::test

namespace jex::test {

std::string DescribeMimeMessage(const std::string& APath, bool& AOk) {
    static const char* const script = R"(import sys, email, email.policy
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)
out = []
for field in ('To', 'Cc', 'Bcc'):
    header = msg[field]
    if header is not None:
        for a in header.addresses:
            out.append('%s: %s|%s' % (field, a.display_name, a.addr_spec))
out.append('Subject: %s' % (msg['Subject'] or ''))
out.append('Headers: %s' % ','.join(sorted(set(k.lower() for k in msg.keys()))))
out.append('Type: %s' % msg.get_content_type())
for i, part in enumerate(msg.iter_parts()):
    if i == 0:
        out.append('Text: %s %s' % (part.get_content_charset(), part.get_content().encode('utf-8').hex()))
    else:
        out.append('File: %s %s %s' % (part.get_filename(), part.get_content_type(), part.get_payload(decode=True).hex()))
print('\n'.join(out))
)";
    return RunPython(script, {APath}, AOk);
}

std::string Hex(const std::string& ABytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : ABytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

} // namespace jex::test
