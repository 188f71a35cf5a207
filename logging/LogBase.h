// logging/LogBase.h - TJexLogBase, the ancestor of every log component, and its delivery
// settings TJexLSendTo.
//
// A log component appends exactly the text it is given to its log file, under one write lock
// shared by every log component of the process; each descendant composes its own records.
// The delivery operations (mail, web page) read the settings object every component owns.
#pragma once

#include "host/core/Classes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace jex {

enum TJexLScreenshotFormat : std::uint8_t { sfBitmap, sfJpeg };

enum TJexLDialogOption : std::uint8_t { doScreenshot, doEmail, doWeb };

using TJexLDialogOptions = host::TSet<TJexLDialogOption>;

/// Where and how a log is delivered: the support address, the message, what goes with it and
/// the support web page. Owned by its log component; assigning copies the settings.
class TJexLSendTo : public host::TPersistent {
    JEX_CLASS(TJexLSendTo)

public:
    TJexLSendTo();
    ~TJexLSendTo() override;

    /// Copies every setting of another TJexLSendTo (the additional files line by line);
    /// anything else is refused with the framework's assignment error.
    void Assign(host::TPersistent* ASource) override;

    /// Recipients: addresses or names separated by "," or ";", each may start with "CC:" or
    /// "BCC:" in any letter case.
    const std::string& EMail() const { return FEMail; }

    void SetEMail(const std::string& AValue) { FEMail = AValue; }

    const std::string& EMailSubject() const { return FEMailSubject; }

    void SetEMailSubject(const std::string& AValue) { FEMailSubject = AValue; }

    /// Template of the message text: its first "%s" receives EMail, its second the log file.
    const std::string& EMailBody() const { return FEMailBody; }

    void SetEMailBody(const std::string& AValue) { FEMailBody = AValue; }

    /// Show the message in the mail client's compose window instead of sending it directly.
    bool EMailOpenBeforeSend() const { return FEMailOpenBeforeSend; }

    void SetEMailOpenBeforeSend(bool AValue) { FEMailOpenBeforeSend = AValue; }

    const std::string& WWW() const { return FWWW; }

    void SetWWW(const std::string& AValue) { FWWW = AValue; }

    bool AttachScreenShot() const { return FAttachScreenShot; }

    void SetAttachScreenShot(bool AValue) { FAttachScreenShot = AValue; }

    TJexLScreenshotFormat ScreenshotFormat() const { return FScreenshotFormat; }

    void SetScreenshotFormat(TJexLScreenshotFormat AValue) { FScreenshotFormat = AValue; }

    bool AttachLog() const { return FAttachLog; }

    void SetAttachLog(bool AValue) { FAttachLog = AValue; }

    bool ResolveNames() const { return FResolveNames; }

    void SetResolveNames(bool AValue) { FResolveNames = AValue; }

    /// Further file names, kept and stored with the settings; nothing in the suite reads them.
    host::TStrings* AdditionalFiles() const { return FAdditionalFiles.get(); }

    /// Copies the lines of AValue into the owned list.
    void SetAdditionalFiles(host::TStrings* AValue);

    /// Which delivery controls the error dialog offers.
    TJexLDialogOptions Options() const { return FOptions; }

    void SetOptions(TJexLDialogOptions AValue) { FOptions = AValue; }

private:
    std::string FEMail;
    std::string FEMailSubject;
    std::string FEMailBody;
    bool FEMailOpenBeforeSend = true;
    std::string FWWW;
    bool FAttachScreenShot = true;
    TJexLScreenshotFormat FScreenshotFormat = sfBitmap;
    bool FAttachLog = false;
    bool FResolveNames = true;
    std::unique_ptr<host::TStringList> FAdditionalFiles;
    TJexLDialogOptions FOptions{doScreenshot, doEmail, doWeb};
};

/// The ancestor of every log component: an on/off switch, the log file and the delivery
/// settings, and the write operations that append to the log file.
class TJexLogBase : public host::TComponent {
    JEX_CLASS(TJexLogBase)

public:
    /// Constructs the component with LogFile "jexevents.log"; create it with
    /// host::Create<T>(owner) so that the construction's second phase runs.
    explicit TJexLogBase(host::TComponent* AOwner);
    ~TJexLogBase() override;

    /// Deactivates the component through the concrete class's SetActive, then creates the
    /// delivery settings.
    void AfterConstruction() override;

    bool Active() const { return FActive; }

    /// Stores the flag; descendants start and stop their work here and call this one.
    virtual void SetActive(bool AValue);

    /// Used unchanged for every write: a bare name lies in the current folder of the moment.
    /// Empty means "no file" to the callers that test it.
    const std::string& LogFile() const { return FLogFile; }

    void SetLogFile(const std::string& AValue) { FLogFile = AValue; }

    TJexLSendTo* SendTo() const { return FSendTo.get(); }

    /// Copies AValue's settings into the owned settings object (the component always owns
    /// exactly one).
    void SetSendTo(TJexLSendTo* AValue);

    /// Appends exactly the bytes of AText to LogFile under the process-wide write lock:
    /// nothing is added and an empty text touches nothing. The file is opened, written and
    /// closed in each call. While another program using this framework appends to the same
    /// file, the call waits for it (up to host::FileShareWaitMs) instead of failing. Raises
    /// EFOpenError / EFCreateError when the file cannot be opened or created (also after that
    /// wait), and EWriteError when the write fails or stops short (disk full); a failed record
    /// is cut back off a regular file, which is left as it was before the call. A FIFO, socket
    /// or device as LogFile is never waited on without bound: the open does not wait for a
    /// reader, and a record the reader does not take within host::FileShareWaitMs raises
    /// EWriteError (what was taken stays taken). The file is closed and the lock released in
    /// every case.
    virtual void WriteAsString(const std::string& AText);

    /// Appends the decimal text of AValue.
    void WriteAsInteger(std::int32_t AValue);

    /// Appends AValue as FloatToStr writes it (15 significant digits, the locale's separator).
    void WriteAsFloat(double AValue);

    /// Appends AValue as DateTimeToStr writes it (date alone at midnight).
    void WriteAsDateTime(host::TDateTime AValue);

    /// Deletes the log file; does nothing for an empty LogFile or a missing file and reports
    /// nothing.
    void ClearLog();

    /// Mails the log as SendTo describes: a screenshot of the whole screen (none without a
    /// display) and LogFile attached as configured, EMail split at "," and ";" into recipients
    /// ("CC:"/"BCC:" prefixes choose the class), the text EMailBody formatted with EMail and
    /// LogFile, the compose window with EMailOpenBeforeSend, else sent at once. A mail failure
    /// is shown in an error message box with MAPIErrorDescription, not raised. Raises the
    /// host's EConvertError for a malformed EMailBody and EFCreateError when the screenshot
    /// cannot be written; nothing is sent then. The screenshot is deleted at once after a
    /// direct send or any failure; after a compose it stays in the process's private
    /// temporary folder until the application ends, for the mail client to read.
    void SendLogByMail();

    /// Opens SendTo's WWW with the desktop's default program; reports nothing.
    void SendLogByWWW();

    /// The text for a Simple MAPI result code ("User cancelled request" for 1, ...);
    /// "Unknown Error Code: <code>" for codes without one (0, 7, negative, above 26).
    std::string MAPIErrorDescription(int ACode) const;

private:
    bool FActive = false;
    std::unique_ptr<TJexLSendTo> FSendTo;
    std::string FLogFile;
};

/// Initialisation and finalisation of the unit: the first initialisation creates the
/// process-wide write lock, the finalisation that balances it deletes it. Nested calls only
/// count.
void LogBaseInitialization();
void LogBaseFinalization();

/// True while the process-wide write lock exists.
bool LogBaseWriteLockExists();

} // namespace jex
