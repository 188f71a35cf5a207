// host/core/Mapi.cpp - Simple MAPI carried out by the platform's mail service.
//
// Resolved descriptors are one block each (descriptor, then its strings and entry id) so
// that MAPIFreeBuffer releases everything at once, as the callers expect. The live blocks are
// remembered, so a stray pointer handed to MAPIFreeBuffer is refused instead of corrupting
// the heap.
#include "host/core/Mapi.h"

#include "platform/MailClient.h"
#include "platform/PlatformServices.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>

namespace host {

namespace {

struct TBuffers {
    std::mutex Lock;
    std::unordered_set<void*> Live;
};

TBuffers& Buffers() {
    static TBuffers buffers;
    return buffers;
}

std::uint32_t ToMapiCode(platform::TMailResult AResult) {
    switch (AResult) {
    case platform::mrSuccess:
        return SUCCESS_SUCCESS;
    case platform::mrNoMailSystem:
        return MAPI_E_LOGON_FAILURE;
    case platform::mrAttachmentNotFound:
        return MAPI_E_ATTACHMENT_NOT_FOUND;
    case platform::mrAttachmentOpenFailure:
        return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    case platform::mrInvalidRecipients:
        return MAPI_E_INVALID_RECIPS;
    case platform::mrUserAbort:
        return MAPI_E_USER_ABORT;
    case platform::mrFailure:
        break;
    }
    return MAPI_E_FAILURE;
}

std::string Text(const char* AText) {
    return AText != nullptr ? AText : "";
}

std::string FileNameOf(const std::string& APath) {
    const std::size_t cut = APath.find_last_of("/\\:");
    return cut == std::string::npos ? APath : APath.substr(cut + 1);
}

} // namespace

std::uint32_t MAPIResolveName(std::uintptr_t ASession, std::uintptr_t /*AUIParam*/,
                              const char* AName, std::uint32_t /*AFlags*/,
                              std::uint32_t /*AReserved*/, MapiRecipDesc** ARecip) {
    if (ARecip == nullptr)
        return MAPI_E_FAILURE;
    *ARecip = nullptr;
    if (ASession != 0)
        return MAPI_E_INVALID_SESSION;
    platform::TMailName resolved;
    if (AName == nullptr || !platform::PlatformServices().MailClient->ResolveName(AName, resolved))
        return MAPI_E_UNKNOWN_RECIPIENT;

    const std::string address = "SMTP:" + resolved.Address;
    const std::size_t size = sizeof(MapiRecipDesc) + resolved.Name.size() + 1 + address.size() + 1 +
                             resolved.Address.size();
    auto* block = static_cast<char*>(std::malloc(size));
    if (block == nullptr)
        return MAPI_E_INSUFFICIENT_MEMORY;
    auto* recip = new (block) MapiRecipDesc{};
    char* name = block + sizeof(MapiRecipDesc);
    std::memcpy(name, resolved.Name.c_str(), resolved.Name.size() + 1);
    char* addr = name + resolved.Name.size() + 1;
    std::memcpy(addr, address.c_str(), address.size() + 1);
    char* entry = addr + address.size() + 1;
    std::memcpy(entry, resolved.Address.data(), resolved.Address.size());
    recip->ulRecipClass = MAPI_TO;
    recip->lpszName = name;
    recip->lpszAddress = addr;
    recip->ulEIDSize = static_cast<std::uint32_t>(resolved.Address.size());
    recip->lpEntryID = entry;
    {
        std::lock_guard<std::mutex> guard(Buffers().Lock);
        Buffers().Live.insert(block);
    }
    *ARecip = recip;
    return SUCCESS_SUCCESS;
}

std::uint32_t MAPISendMail(std::uintptr_t ASession, std::uintptr_t /*AUIParam*/,
                           const MapiMessage* AMessage, std::uint32_t AFlags,
                           std::uint32_t /*AReserved*/) {
    if (ASession != 0)
        return MAPI_E_INVALID_SESSION;
    if (AMessage == nullptr)
        return MAPI_E_FAILURE;
    if ((AMessage->nRecipCount > 0 && AMessage->lpRecips == nullptr) ||
        (AMessage->nFileCount > 0 && AMessage->lpFiles == nullptr))
        return MAPI_E_INVALID_MESSAGE;

    platform::TMailMessage message;
    message.Subject = Text(AMessage->lpszSubject);
    message.Body = Text(AMessage->lpszNoteText);
    for (std::uint32_t i = 0; i < AMessage->nRecipCount; ++i) {
        const MapiRecipDesc& desc = AMessage->lpRecips[i];
        if (desc.ulRecipClass > MAPI_BCC)
            return MAPI_E_BAD_RECIPTYPE;
        if (desc.ulRecipClass == MAPI_ORIG)
            continue;
        platform::TMailRecipient recip;
        recip.Kind = desc.ulRecipClass == MAPI_CC    ? platform::mrkCc
                     : desc.ulRecipClass == MAPI_BCC ? platform::mrkBcc
                                                     : platform::mrkTo;
        recip.Name = Text(desc.lpszName);
        recip.Address = platform::StripSmtpPrefix(Text(desc.lpszAddress));
        if (recip.Address.empty())
            recip.Address = recip.Name;
        // An unresolved recipient keeps only its class; the mail service leaves it out.
        message.Recipients.push_back(std::move(recip));
    }
    for (std::uint32_t i = 0; i < AMessage->nFileCount; ++i) {
        const MapiFileDesc& desc = AMessage->lpFiles[i];
        if (desc.lpszPathName == nullptr || *desc.lpszPathName == '\0')
            return MAPI_E_ATTACHMENT_NOT_FOUND;
        platform::TMailAttachment file;
        file.PathName = desc.lpszPathName;
        file.FileName = desc.lpszFileName != nullptr && *desc.lpszFileName != '\0'
                            ? std::string(desc.lpszFileName)
                            : FileNameOf(file.PathName);
        message.Attachments.push_back(std::move(file));
    }

    platform::TMailClient& client = *platform::PlatformServices().MailClient;
    return ToMapiCode((AFlags & MAPI_DIALOG) != 0 ? client.Compose(message) : client.Send(message));
}

std::uint32_t MAPIFreeBuffer(void* AMemory) {
    if (AMemory == nullptr)
        return SUCCESS_SUCCESS;
    {
        std::lock_guard<std::mutex> guard(Buffers().Lock);
        if (Buffers().Live.erase(AMemory) == 0)
            return MAPI_E_FAILURE;
    }
    std::free(AMemory);
    return SUCCESS_SUCCESS;
}

} // namespace host
