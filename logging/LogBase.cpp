// logging/LogBase.cpp - TJexLogBase and TJexLSendTo: construction, settings and log writes.
#include "logging/LogBase.h"

#include "logging/LogCnst.h"
#include "platform/CriticalSection.h"

#include <optional>

namespace jex {

using namespace host;

// ---- The unit's write lock ------------------------------------------------------------------

namespace {

struct TLogBaseUnit {
    int InitCount = 0; // counts down on initialisation, back up on finalisation
    std::optional<platform::TCriticalSection> WriteLock;
};

TLogBaseUnit& Unit() {
    static TLogBaseUnit unit;
    return unit;
}

// Holds the write lock for one write; the lock is left on every path out.
class TWriteLockGuard {
public:
    TWriteLockGuard() {
        std::optional<platform::TCriticalSection>& lock = Unit().WriteLock;
        if (lock) {
            FLock = &*lock;
            FLock->Enter();
        }
    }

    ~TWriteLockGuard() {
        if (FLock != nullptr)
            FLock->Leave();
    }

    TWriteLockGuard(const TWriteLockGuard&) = delete;
    TWriteLockGuard& operator=(const TWriteLockGuard&) = delete;

private:
    platform::TCriticalSection* FLock = nullptr;
};

} // namespace

void LogBaseInitialization() {
    TLogBaseUnit& unit = Unit();
    if (unit.InitCount-- == 0) {
        unit.WriteLock.emplace();
        // Stored forms create the components by class name.
        RegisterClasses({&TJexLSendTo::StaticClassInfo(), &TJexLogBase::StaticClassInfo()});
    }
}

void LogBaseFinalization() {
    TLogBaseUnit& unit = Unit();
    if (++unit.InitCount == 0)
        unit.WriteLock.reset();
}

bool LogBaseWriteLockExists() {
    return Unit().WriteLock.has_value();
}

// ---- TJexLSendTo ----------------------------------------------------------------------------

TJexLSendTo::TJexLSendTo()
    : FEMailBody(DefaultEMailBody())
    , FAdditionalFiles(std::make_unique<TStringList>()) {}

TJexLSendTo::~TJexLSendTo() = default;

void TJexLSendTo::Assign(TPersistent* ASource) {
    auto* source = dynamic_cast<TJexLSendTo*>(ASource);
    if (source == nullptr) {
        TPersistent::Assign(ASource);
        return;
    }
    if (source == this)
        return;
    FEMail = source->FEMail;
    FEMailSubject = source->FEMailSubject;
    FEMailBody = source->FEMailBody;
    FEMailOpenBeforeSend = source->FEMailOpenBeforeSend;
    FWWW = source->FWWW;
    FAttachScreenShot = source->FAttachScreenShot;
    FScreenshotFormat = source->FScreenshotFormat;
    FAttachLog = source->FAttachLog;
    FResolveNames = source->FResolveNames;
    FAdditionalFiles->Assign(source->FAdditionalFiles.get());
    FOptions = source->FOptions;
}

void TJexLSendTo::SetAdditionalFiles(TStrings* AValue) {
    if (AValue == nullptr)
        FAdditionalFiles->Clear();
    else
        FAdditionalFiles->Assign(AValue);
}

// ---- TJexLogBase ----------------------------------------------------------------------------

TJexLogBase::TJexLogBase(TComponent* AOwner)
    : TComponent(AOwner)
    , FLogFile(DefaultLogFile) {}

TJexLogBase::~TJexLogBase() = default;

void TJexLogBase::AfterConstruction() {
    TComponent::AfterConstruction();
    // The concrete class sees its deactivation before the settings object exists.
    SetActive(false);
    FSendTo = std::make_unique<TJexLSendTo>();
}

void TJexLogBase::SetActive(bool AValue) {
    FActive = AValue;
}

void TJexLogBase::SetSendTo(TJexLSendTo* AValue) {
    if (FSendTo && AValue != nullptr)
        FSendTo->Assign(AValue);
}

void TJexLogBase::WriteAsString(const std::string& AText) {
    if (AText.empty())
        return;
    TWriteLockGuard lock;
    // An existing log is shared for reading while we append; a missing one is created. One open
    // does both, so a log another process started a moment ago is appended to, not truncated.
    // Another program appending at this moment holds the file for a few microseconds: its
    // claim is waited out (for a bounded time) rather than the record lost. A FIFO or device
    // as the log never hangs the program: what its reader does not take in time fails.
    TFileStream stream(FLogFile, fmOpenReadWrite | fmShareDenyWrite | fmAppend | fmCreateIfMissing |
                                     fmWaitForShare | fmNeverBlock);
    const auto size = static_cast<std::int64_t>(AText.size());
    const std::int64_t written = stream.Write(AText.data(), size);
    if (written == size)
        return;
    // A failed or short write (disk full) must not pass as success, and must not leave the
    // start of the record for the next one to be glued onto: while the claim still keeps other
    // writers out, the file is cut back to its length before the record. The fragment is the
    // file's last bytes, since every write appends. A FIFO or device cannot be cut back.
    if (written > 0) {
        const std::int64_t end = stream.Seek(0, soFromEnd);
        if (end >= written) {
            try {
                stream.SetSize(end - written);
            } catch (const EOSError&) {
            }
        }
    }
    throw EWriteError("Stream write error");
}

void TJexLogBase::WriteAsInteger(std::int32_t AValue) {
    WriteAsString(IntToStr(AValue));
}

void TJexLogBase::WriteAsFloat(double AValue) {
    WriteAsString(FloatToStr(AValue));
}

void TJexLogBase::WriteAsDateTime(TDateTime AValue) {
    WriteAsString(DateTimeToStr(AValue));
}

void TJexLogBase::ClearLog() {
    if (FLogFile.empty())
        return;
    if (FileExists(FLogFile))
        DeleteFile(FLogFile);
}

// ---- Published members ----------------------------------------------------------------------

const TTypeInfo& ScreenshotFormatType() {
    return EnumType<TJexLScreenshotFormat>("TJexLScreenshotFormat", {"sfBitmap", "sfJpeg"});
}

const TTypeInfo& DialogOptionsType() {
    static const TTypeInfo& option =
        EnumType<TJexLDialogOption>("TJexLDialogOption", {"doScreenshot", "doEmail", "doWeb"});
    return SetType<TJexLDialogOption>("TJexLDialogOptions", option);
}

const TClassInfo& TJexLSendTo::StaticClassInfo() {
    using T = TJexLSendTo;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexLSendTo", &TPersistent::StaticClassInfo())
            .Persistent()
            .String("EMail", &T::EMail, &T::SetEMail)
            .String("EMailSubject", &T::EMailSubject, &T::SetEMailSubject)
            .String("EMailBody", &T::EMailBody, &T::SetEMailBody)
            .Bool("EMailOpenBeforeSend", &T::EMailOpenBeforeSend, &T::SetEMailOpenBeforeSend, true)
            .String("WWW", &T::WWW, &T::SetWWW)
            .Bool("AttachScreenShot", &T::AttachScreenShot, &T::SetAttachScreenShot, true)
            .Enum("ScreenshotFormat", &T::ScreenshotFormat, &T::SetScreenshotFormat,
                  ScreenshotFormatType(), sfBitmap)
            .Bool("AttachLog", &T::AttachLog, &T::SetAttachLog, false)
            .Bool("ResolveNames", &T::ResolveNames, &T::SetResolveNames, true)
            .Set("Options", &T::Options, &T::SetOptions, DialogOptionsType(),
                 TJexLDialogOptions{doScreenshot, doEmail, doWeb})
            .Strings("AdditionalFiles", &T::AdditionalFiles, &T::SetAdditionalFiles)
            .Build();
    return info;
}

const TClassInfo& TJexLogBase::StaticClassInfo() {
    using T = TJexLogBase;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexLogBase", &TComponent::StaticClassInfo())
            .Component()
            .Bool("Active", &T::Active, &T::SetActive)
            .String("LogFile", &T::LogFile, &T::SetLogFile)
            .Object("SendTo", &T::SendTo, &T::SetSendTo)
            .Build();
    return info;
}

} // namespace jex
