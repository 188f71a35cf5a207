// logging/LogBaseDelivery.cpp - sending the log by mail and opening the support page.
//
// The message is built exactly as a Simple MAPI client builds it (raw strings, descriptor
// arrays) and handed to host/core/Mapi. Two things differ from the classic Windows flow, on
// purpose: the screenshot gets an exclusive name in the process's private temporary folder
// (never a predictable name in the shared one), and after a successful compose it stays there,
// because the desktop's compose tool returns before the mail client has read the attachment;
// the folder goes when the application ends. A direct send or any failure deletes it at once.
#include "host/core/Mapi.h"
#include "host/core/SysUtils.h"
#include "host/forms/Dialogs.h"
#include "host/forms/Forms.h"
#include "host/forms/Graphics.h"
#include "logging/LogBase.h"
#include "platform/JpegWriter.h"
#include "platform/PlatformServices.h"
#include "platform/Shell.h"
#include "platform/TempFiles.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

namespace jex {

namespace {

// Owns every string and array handed to MAPISendMail, released whatever the result.
class TMessageBuffers {
public:
    char* Copy(const std::string& AText) {
        auto copy = std::make_unique<char[]>(AText.size() + 1);
        std::memcpy(copy.get(), AText.c_str(), AText.size() + 1);
        FStrings.push_back(std::move(copy));
        return FStrings.back().get();
    }

    void* CopyBytes(const void* AData, std::size_t ASize) {
        auto copy = std::make_unique<char[]>(ASize == 0 ? 1 : ASize);
        if (ASize > 0)
            std::memcpy(copy.get(), AData, ASize);
        FStrings.push_back(std::move(copy));
        return FStrings.back().get();
    }

private:
    std::vector<std::unique_ptr<char[]>> FStrings;
};

std::string ToUpperAscii(std::string AText) {
    for (char& c : AText)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return AText;
}

// "a;;b" -> {"a", "", "b"}; a trailing separator adds nothing; nothing is trimmed.
std::vector<std::string> SplitRecipients(const std::string& AEMail) {
    std::vector<std::string> result;
    std::string current;
    for (char c : AEMail) {
        if (c == ',' || c == ';') {
            result.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        result.push_back(current);
    return result;
}

// The name part after the last folder separator or drive colon.
std::string AttachmentName(const std::string& APath) {
    const std::size_t cut = APath.find_last_of("/\\:");
    return cut == std::string::npos ? APath : APath.substr(cut + 1);
}

std::uint32_t SendMail(const std::string& ASubject, const std::string& AText,
                       const std::vector<std::string>& ARecipients,
                       const std::vector<std::string>& AAttachments, bool AOpenBeforeSend,
                       bool AResolveNames) {
    using namespace host;
    TMessageBuffers buffers;
    MapiMessage message{};
    message.lpszSubject = buffers.Copy(ASubject);
    message.lpszNoteText = buffers.Copy(AText);

    std::vector<MapiFileDesc> files(AAttachments.size());
    for (std::size_t i = 0; i < AAttachments.size(); ++i) {
        files[i] = MapiFileDesc{};
        files[i].nPosition = 0xFFFFFFFF;
        files[i].lpszPathName = buffers.Copy(AAttachments[i]);
        files[i].lpszFileName = buffers.Copy(AttachmentName(AAttachments[i]));
    }
    message.nFileCount = static_cast<std::uint32_t>(files.size());
    message.lpFiles = files.empty() ? nullptr : files.data();

    std::vector<MapiRecipDesc> recips(ARecipients.size());
    for (std::size_t i = 0; i < ARecipients.size(); ++i) {
        std::string text = ARecipients[i];
        MapiRecipDesc& recip = recips[i];
        recip = MapiRecipDesc{};
        if (ToUpperAscii(text.substr(0, 3)) == "CC:") {
            recip.ulRecipClass = MAPI_CC;
            text.erase(0, 3);
        } else if (ToUpperAscii(text.substr(0, 4)) == "BCC:") {
            recip.ulRecipClass = MAPI_BCC;
            text.erase(0, 4);
        } else {
            recip.ulRecipClass = MAPI_TO;
        }
        if (!AResolveNames) {
            recip.lpszName = buffers.Copy(text);
            recip.lpszAddress = buffers.Copy(text);
            continue;
        }
        MapiRecipDesc* resolved = nullptr;
        std::uint32_t result = MAPIResolveName(0, 0, text.c_str(), 0, 0, &resolved);
        if (result == MAPI_E_UNKNOWN_RECIPIENT || result == MAPI_E_AMBIGUOUS_RECIPIENT)
            result = MAPIResolveName(0, 0, text.c_str(), MAPI_DIALOG, 0, &resolved);
        if (result == SUCCESS_SUCCESS && resolved != nullptr) {
            const std::string name = resolved->lpszName != nullptr ? resolved->lpszName : "";
            recip.lpszName = buffers.Copy(name);
            recip.lpszAddress = buffers.Copy(
                resolved->lpszAddress != nullptr ? std::string(resolved->lpszAddress) : name);
            recip.ulEIDSize = resolved->ulEIDSize;
            recip.lpEntryID = buffers.CopyBytes(resolved->lpEntryID, resolved->ulEIDSize);
        }
        MAPIFreeBuffer(resolved);
    }
    message.nRecipCount = static_cast<std::uint32_t>(recips.size());
    message.lpRecips = recips.empty() ? nullptr : recips.data();

    const std::uint32_t flags = AOpenBeforeSend ? MAPI_LOGON_UI | MAPI_DIALOG : MAPI_LOGON_UI;
    const std::uintptr_t window =
        host::Application != nullptr ? static_cast<std::uintptr_t>(host::Application->Handle()) : 0;
    return MAPISendMail(0, window, &message, flags, 0);
}

// Copies the screen into a new file of the private temporary folder and returns its path;
// empty when there is no screen to copy (no display). Raises EFCreateError when the file cannot
// be created or written; nothing is left behind then.
std::string SaveScreenshot(TJexLScreenshotFormat AFormat) {
    const int width = host::Screen != nullptr ? host::Screen->Width() : 0;
    const int height = host::Screen != nullptr ? host::Screen->Height() : 0;
    if (width <= 0 || height <= 0)
        return {};
    platform::TTempFiles& temp = *platform::PlatformServices().TempFiles;
    std::string path;
    try {
        path = temp.CreateTempFile(AFormat == sfJpeg ? ".jpg" : ".bmp");
    } catch (const std::exception&) {
        throw host::EFCreateError("Cannot create file " + temp.TempPath() + "Jex" +
                                  (AFormat == sfJpeg ? ".jpg" : ".bmp"));
    }
    try {
        host::TBitmap bitmap;
        bitmap.SetSize(width, height);
        if (!bitmap.CaptureScreen() || bitmap.Width() != width || bitmap.Height() != height) {
            // What the display gave does not fit the screen's size: keep the size, as a copy
            // into a bitmap of that size would.
            host::TBitmap copy;
            copy.SetSize(width, height);
            for (int y = 0; y < std::min(height, bitmap.Height()); ++y)
                for (int x = 0; x < std::min(width, bitmap.Width()); ++x)
                    copy.SetPixel(x, y, bitmap.Pixel(x, y));
            bitmap.Assign(&copy);
        }
        if (AFormat == sfBitmap) {
            bitmap.SaveToFile(path);
        } else {
            std::vector<std::uint8_t> rows(static_cast<std::size_t>(width) * height * 4);
            std::size_t at = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const host::TColor color = bitmap.Pixel(x, y); // 0x00BBGGRR
                    rows[at++] = static_cast<std::uint8_t>((color >> 16) & 0xFF);
                    rows[at++] = static_cast<std::uint8_t>((color >> 8) & 0xFF);
                    rows[at++] = static_cast<std::uint8_t>(color & 0xFF);
                    rows[at++] = 0;
                }
            std::string jpeg;
            if (!platform::EncodeJpeg({rows.data(), width, height, 32, 0}, 90, jpeg))
                throw host::EFCreateError("Cannot create file " + path);
            host::TFileStream out(path, host::fmCreate);
            out.WriteBuffer(jpeg.data(), static_cast<std::int64_t>(jpeg.size()));
        }
    } catch (const host::EFCreateError&) {
        host::DeleteFile(path);
        throw;
    } catch (const host::Exception&) {
        // A write that failed half-way is the same failure as a file that could not be made.
        host::DeleteFile(path);
        throw host::EFCreateError("Cannot create file " + path);
    } catch (...) {
        host::DeleteFile(path);
        throw;
    }
    return path;
}

} // namespace

void TJexLogBase::SendLogByMail() {
    TJexLSendTo& settings = *SendTo();
    std::vector<std::string> attachments;
    std::string screenshot;
    if (settings.AttachScreenShot()) {
        screenshot = SaveScreenshot(settings.ScreenshotFormat());
        if (!screenshot.empty())
            attachments.push_back(screenshot);
    }
    std::uint32_t result = 0;
    try {
        if (settings.AttachLog() && !LogFile().empty())
            attachments.push_back(LogFile());
        const std::vector<std::string> recipients = SplitRecipients(settings.EMail());
        const std::string text = host::Format(settings.EMailBody(), {settings.EMail(), LogFile()});
        result = SendMail(settings.EMailSubject(), text, recipients, attachments,
                          settings.EMailOpenBeforeSend(), settings.ResolveNames());
        if (result != 0)
            host::MessageDlg(MAPIErrorDescription(static_cast<int>(result)), host::mtError,
                             {host::mbOK}, 0);
    } catch (...) {
        if (!screenshot.empty())
            host::DeleteFile(screenshot);
        throw;
    }
    // A compose window may still read the screenshot: it goes with the private temporary
    // folder when the application ends. Otherwise nobody needs it any more.
    if (!screenshot.empty() && (result != 0 || !settings.EMailOpenBeforeSend()))
        host::DeleteFile(screenshot);
}

void TJexLogBase::SendLogByWWW() {
    platform::PlatformServices().Shell->Open(SendTo()->WWW());
}

std::string TJexLogBase::MAPIErrorDescription(int ACode) const {
    static const char* const texts[] = {
        nullptr,
        "User cancelled request",
        "General MAPI failure",
        "Logon failure",
        "Disk full",
        "Insufficient memory",
        "Access denied",
        nullptr,
        "Too many sessions",
        "Too many files open",
        "Too many recipients",
        "Attachment not found",
        "Failed to open attachment",
        "Failed to write attachment",
        "Unknown recipient",
        "Invalid recipient type",
        "No messages",
        "Invalid message",
        "Text too large.",
        "Invalid session",
        "Type not supported",
        "Ambiguous recipient",
        "Message in use",
        "Network failure",
        "Invalid edit fields",
        "Invalid recipients",
        "Not supported",
    };
    if (ACode > 0 && ACode < static_cast<int>(std::size(texts)) && texts[ACode] != nullptr)
        return texts[ACode];
    return "Unknown Error Code: " + std::to_string(ACode);
}

} // namespace jex
