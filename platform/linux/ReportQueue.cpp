// platform/linux/ReportQueue.cpp - the queue folder on POSIX files, and the upload through
// libcurl.
#include "platform/ReportQueue.h"

#include "platform/SignalSafeText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <curl/curl.h>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::string_view EntrySuffix = ".entry";

bool IsEntryName(std::string_view AName) {
    return AName.size() > EntrySuffix.size() && AName.front() != '.' &&
           AName.substr(AName.size() - EntrySuffix.size()) == EntrySuffix;
}

// The "+<count>" before the suffix of a file holding several reports; 0 when there is none.
std::size_t CountInName(std::string_view AName) {
    const std::string_view stem = AName.substr(0, AName.size() - EntrySuffix.size());
    const std::size_t plus = stem.rfind('+');
    if (plus == std::string_view::npos || plus + 1 == stem.size() || stem.size() - plus > 10)
        return 0;
    std::size_t count = 0;
    for (const char c : stem.substr(plus + 1)) {
        if (c < '0' || c > '9')
            return 0;
        count = count * 10 + static_cast<std::size_t>(c - '0');
    }
    return count;
}

bool WriteAll(int AFd, const char* AData, std::size_t ASize) noexcept {
    while (ASize > 0) {
        const ssize_t n = write(AFd, AData, ASize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        AData += n;
        ASize -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::size_t EntriesInFile(std::string_view AName) {
    if (!IsEntryName(AName))
        return 0;
    const std::size_t count = CountInName(AName);
    return count == 0 ? 1 : count;
}

int LowerThreadPriority(int ABy) {
    // On Linux a thread id names one thread to setpriority, not its whole process.
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0)
        return errno;
    return setpriority(PRIO_PROCESS, thread, std::min(current + ABy, 19)) == 0 ? 0 : errno;
}

std::string DefaultReportQueueFolder(std::string_view AProgram) {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        base = state;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        base = std::string(home) + "/.local/state";
    else
        base = "/tmp";
    std::string program(AProgram.empty() ? std::string_view("program") : AProgram);
    std::replace(program.begin(), program.end(), '/', '_');
    return base + "/jexlogger/reports/" + program;
}

TReportQueue::TReportQueue(std::string AFolder, std::size_t AMaxEntries)
    : FFolder(std::move(AFolder))
    , FMaxEntries(AMaxEntries == 0 ? 1 : AMaxEntries) {
    while (FFolder.size() > 1 && FFolder.back() == '/')
        FFolder.pop_back();
    // Paths too long for the buffer leave it empty: the signal handler then queues nothing.
    if (FFolder.size() + 64 < sizeof FFolderBuffer)
        std::memcpy(FFolderBuffer, FFolder.c_str(), FFolder.size() + 1);
}

int TReportQueue::Ensure() const {
    if (FFolder.empty())
        return EINVAL;
    for (std::size_t slash = 1; slash != std::string::npos;) {
        slash = FFolder.find('/', slash + 1);
        const std::string part = FFolder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }

    struct stat st {};

    if (stat(FFolder.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

bool TReportQueue::PushSignalSafe(const char* AData, std::size_t ASize) const noexcept {
    return WriteFile(AData, ASize, 1);
}

bool TReportQueue::WriteFile(const char* AData, std::size_t ASize,
                             std::size_t ACount) const noexcept {
    if (FFolderBuffer[0] == '\0')
        return false;

    struct timespec now {};

    clock_gettime(CLOCK_REALTIME, &now);
    char nameBuffer[96];
    TSignalSafeText name(nameBuffer, sizeof nameBuffer);
    name.AppendDecimal(static_cast<long long>(now.tv_sec), 11)
        .AppendDecimal(now.tv_nsec, 9)
        .Append("-")
        .AppendDecimal(getpid())
        .Append("-")
        .AppendDecimal(const_cast<std::atomic<unsigned>&>(FCounter).fetch_add(1), 6);
    if (ACount > 1)
        name.Append("+").AppendDecimal(static_cast<long long>(ACount));
    name.Append(EntrySuffix);
    char finalBuffer[sizeof FFolderBuffer + 96];
    TSignalSafeText finalPath(finalBuffer, sizeof finalBuffer);
    finalPath.Append(FFolderBuffer).Append("/").Append(name.View());
    char partBuffer[sizeof FFolderBuffer + 104];
    TSignalSafeText partPath(partBuffer, sizeof partBuffer);
    partPath.Append(FFolderBuffer).Append("/.").Append(name.View()).Append(".part");

    const int fd = open(partPath.Data(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, AData, ASize);
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(partPath.Data(), finalPath.Data()) != 0) {
        unlink(partPath.Data());
        return false;
    }
    return true;
}

int TReportQueue::Push(std::string_view AEntries, std::size_t ACount) {
    if (ACount == 0)
        ACount = 1;
    errno = 0;
    if (!WriteFile(AEntries.data(), AEntries.size(), ACount))
        return errno != 0 ? errno : EIO;
    if ((FCount += ACount) > FMaxEntries)
        Trim();
    return 0;
}

std::vector<std::string> TReportQueue::List() const {
    std::vector<std::string> names;
    DIR* dir = opendir(FFolder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* e = readdir(dir))
        if (IsEntryName(e->d_name))
            names.emplace_back(e->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t TReportQueue::Queued() const {
    std::size_t count = 0;
    for (const std::string& name : List())
        count += EntriesInFile(name);
    return count;
}

int TReportQueue::Read(const std::string& AName, std::string& AEntry) const {
    AEntry.clear();
    const int fd = open((FFolder + "/" + AName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno;
    char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            return error;
        }
        if (n == 0)
            break;
        AEntry.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return 0;
}

int TReportQueue::Remove(const std::string& AName) {
    if (unlink((FFolder + "/" + AName).c_str()) != 0)
        return errno == ENOENT ? 0 : errno;
    const std::size_t removed = EntriesInFile(AName);
    for (std::size_t count = FCount.load(); count > 0;)
        if (FCount.compare_exchange_weak(count, count - std::min(count, removed)))
            break;
    return 0;
}

void TReportQueue::Recount() {
    FCount = Queued();
}

void TReportQueue::Trim() {
    const std::vector<std::string> names = List();
    std::size_t queued = 0;
    for (const std::string& name : names)
        queued += EntriesInFile(name);
    FCount = queued;
    if (queued <= FMaxEntries)
        return;
    // A tenth below the bound, so that a full queue is listed once per tenth, not per push.
    const std::size_t keep = FMaxEntries - FMaxEntries / 10;
    for (std::size_t i = 0; i < names.size() && queued > keep; ++i) {
        const std::size_t count = EntriesInFile(names[i]);
        if (Remove(names[i]) == 0) {
            FDropped += count;
            queued -= count;
        }
    }
}

// ---- Upload -------------------------------------------------------------------------------

bool IsCollectorAddress(std::string_view AAddress) {
    for (const std::string_view scheme :
         {std::string_view("http://"), std::string_view("https://")})
        if (AAddress.substr(0, scheme.size()) == scheme) {
            const std::string_view rest = AAddress.substr(scheme.size());
            return !rest.empty() && rest.front() != '/' &&
                   rest.find_first_of(" \t\r\n") == std::string_view::npos;
        }
    return false;
}

namespace {

struct TBody {
    std::string_view Data;
    std::size_t Offset = 0;
};

std::size_t ReadBody(char* ABuffer, std::size_t ASize, std::size_t ACount, void* AUser) {
    auto* body = static_cast<TBody*>(AUser);
    const std::size_t n = std::min(ASize * ACount, body->Data.size() - body->Offset);
    std::memcpy(ABuffer, body->Data.data() + body->Offset, n);
    body->Offset += n;
    return n;
}

std::size_t KeepAnswer(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) {
    auto* answer = static_cast<std::string*>(AUser);
    if (answer->size() < 512)
        answer->append(AData, std::min<std::size_t>(ASize * ACount, 512 - answer->size()));
    return ASize * ACount;
}

int Progress(void* AUser, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(AUser);
    return cancel != nullptr && cancel->load() ? 1 : 0;
}

} // namespace

TUploadResult UploadJournalEntries(const std::string& ACollector, std::string_view ABody,
                                   long ATimeoutMs, const std::atomic<bool>* ACancel,
                                   const std::function<void()>& AMeanwhile, long AMeanwhileMs) {
    TUploadResult result;
    if (!IsCollectorAddress(ACollector)) {
        result.Error = "not an http:// or https:// address";
        return result;
    }
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (curl == nullptr || multi == nullptr) {
        curl_easy_cleanup(curl);
        curl_multi_cleanup(multi);
        result.Error = "libcurl could not start";
        return result;
    }
    std::string url = ACollector;
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    url += "/upload";
    TBody body{ABody};
    std::string answer;
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/vnd.fdo.journal");
    // No "Expect: 100-continue" wait before larger bodies: the receiver answers the whole POST.
    headers = curl_slist_append(headers, "Expect:");
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadBody);
    curl_easy_setopt(curl, CURLOPT_READDATA, &body);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ABody.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &KeepAnswer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, ATimeoutMs);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(ATimeoutMs, 3000L));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(ACancel));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");

    // Driven here rather than by curl_easy_perform, so that the caller's work goes on between
    // the waits and a cancel is seen within a tenth of a second.
    const int waitMs = static_cast<int>(std::clamp(AMeanwhile ? AMeanwhileMs : 100L, 1L, 100L));
    CURLcode code = CURLE_OK;
    curl_multi_add_handle(multi, curl);
    for (int running = 1;;) {
        if (const CURLMcode failed = curl_multi_perform(multi, &running); failed != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            std::snprintf(error, sizeof error, "%s", curl_multi_strerror(failed));
            break;
        }
        if (running == 0) {
            int left = 0;
            code = CURLE_GOT_NOTHING;
            while (const CURLMsg* message = curl_multi_info_read(multi, &left))
                if (message->msg == CURLMSG_DONE)
                    code = message->data.result;
            break;
        }
        if (AMeanwhile)
            AMeanwhile();
        curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_multi_remove_handle(multi, curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    curl_multi_cleanup(multi);
    if (code != CURLE_OK) {
        result.Error = error[0] != '\0' ? error : curl_easy_strerror(code);
    } else if (status < 200 || status > 299) {
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
            answer.pop_back();
        result.Error = "answered " + std::to_string(status) + (answer.empty() ? "" : ": " + answer);
    } else {
        result.Ok = true;
    }
    return result;
}

} // namespace platform
