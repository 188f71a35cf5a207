// host/core/Mapi.h - the Simple MAPI calls, structures and result codes.
//
// Code written against Simple MAPI builds its messages exactly as it would for a Windows mail
// client: raw zero-terminated strings and arrays it allocates and frees itself. The calls are
// carried out by the platform's mail service (the desktop's compose window, or a transfer
// agent for sending directly); sessions and address books do not exist here.
#pragma once

#include <cstdint>

namespace host {

/// A file attached to a message.
struct MapiFileDesc {
    std::uint32_t ulReserved; ///< must be 0
    std::uint32_t flFlags;    ///< MAPI_OLE, MAPI_OLE_STATIC; ignored
    std::uint32_t nPosition;  ///< place in the note text; 0xFFFFFFFF = not placed
    char* lpszPathName;       ///< the file to attach; must exist
    char* lpszFileName;       ///< name the recipient sees; null = the path's own name
    void* lpFileType;         ///< ignored
};

/// A recipient (or the originator) of a message.
struct MapiRecipDesc {
    std::uint32_t ulReserved;   ///< must be 0
    std::uint32_t ulRecipClass; ///< MAPI_ORIG, MAPI_TO, MAPI_CC, MAPI_BCC
    char* lpszName;             ///< display name
    char* lpszAddress;          ///< address, "SMTP:" prefix allowed; null = use the name
    std::uint32_t ulEIDSize;    ///< size of lpEntryID
    void* lpEntryID;            ///< opaque identifier from MAPIResolveName
};

/// A message to send.
struct MapiMessage {
    std::uint32_t ulReserved;
    char* lpszSubject;
    char* lpszNoteText;
    char* lpszMessageType;
    char* lpszDateReceived;
    char* lpszConversationID;
    std::uint32_t flFlags;
    MapiRecipDesc* lpOriginator; ///< ignored: the mail system knows who sends
    std::uint32_t nRecipCount;
    MapiRecipDesc* lpRecips;
    std::uint32_t nFileCount;
    MapiFileDesc* lpFiles;
};

// Recipient classes.
inline constexpr std::uint32_t MAPI_ORIG = 0;
inline constexpr std::uint32_t MAPI_TO = 1;
inline constexpr std::uint32_t MAPI_CC = 2;
inline constexpr std::uint32_t MAPI_BCC = 3;

// Message flags.
inline constexpr std::uint32_t MAPI_UNREAD = 0x1;
inline constexpr std::uint32_t MAPI_RECEIPT_REQUESTED = 0x2;
inline constexpr std::uint32_t MAPI_SENT = 0x4;

// Attachment flags.
inline constexpr std::uint32_t MAPI_OLE = 0x1;
inline constexpr std::uint32_t MAPI_OLE_STATIC = 0x2;

// Call flags.
inline constexpr std::uint32_t MAPI_LOGON_UI = 0x1;
inline constexpr std::uint32_t MAPI_NEW_SESSION = 0x2;
inline constexpr std::uint32_t MAPI_DIALOG = 0x8;
inline constexpr std::uint32_t MAPI_AB_NOMODIFY = 0x400;

// Result codes.
inline constexpr std::uint32_t SUCCESS_SUCCESS = 0;
inline constexpr std::uint32_t MAPI_USER_ABORT = 1;
inline constexpr std::uint32_t MAPI_E_USER_ABORT = MAPI_USER_ABORT;
inline constexpr std::uint32_t MAPI_E_FAILURE = 2;
inline constexpr std::uint32_t MAPI_E_LOGON_FAILURE = 3;
inline constexpr std::uint32_t MAPI_E_LOGIN_FAILURE = MAPI_E_LOGON_FAILURE;
inline constexpr std::uint32_t MAPI_E_DISK_FULL = 4;
inline constexpr std::uint32_t MAPI_E_INSUFFICIENT_MEMORY = 5;
inline constexpr std::uint32_t MAPI_E_ACCESS_DENIED = 6;
inline constexpr std::uint32_t MAPI_E_TOO_MANY_SESSIONS = 8;
inline constexpr std::uint32_t MAPI_E_TOO_MANY_FILES = 9;
inline constexpr std::uint32_t MAPI_E_TOO_MANY_RECIPIENTS = 10;
inline constexpr std::uint32_t MAPI_E_ATTACHMENT_NOT_FOUND = 11;
inline constexpr std::uint32_t MAPI_E_ATTACHMENT_OPEN_FAILURE = 12;
inline constexpr std::uint32_t MAPI_E_ATTACHMENT_WRITE_FAILURE = 13;
inline constexpr std::uint32_t MAPI_E_UNKNOWN_RECIPIENT = 14;
inline constexpr std::uint32_t MAPI_E_BAD_RECIPTYPE = 15;
inline constexpr std::uint32_t MAPI_E_NO_MESSAGES = 16;
inline constexpr std::uint32_t MAPI_E_INVALID_MESSAGE = 17;
inline constexpr std::uint32_t MAPI_E_TEXT_TOO_LARGE = 18;
inline constexpr std::uint32_t MAPI_E_INVALID_SESSION = 19;
inline constexpr std::uint32_t MAPI_E_TYPE_NOT_SUPPORTED = 20;
inline constexpr std::uint32_t MAPI_E_AMBIGUOUS_RECIPIENT = 21;
inline constexpr std::uint32_t MAPI_E_AMBIG_RECIP = MAPI_E_AMBIGUOUS_RECIPIENT;
inline constexpr std::uint32_t MAPI_E_MESSAGE_IN_USE = 22;
inline constexpr std::uint32_t MAPI_E_NETWORK_FAILURE = 23;
inline constexpr std::uint32_t MAPI_E_INVALID_EDITFIELDS = 24;
inline constexpr std::uint32_t MAPI_E_INVALID_RECIPS = 25;
inline constexpr std::uint32_t MAPI_E_NOT_SUPPORTED = 26;

/// Resolves a recipient text: a plain address ("a@b.c") or "Name <a@b.c>" gives a new
/// descriptor in *ARecip with lpszName = the display name (the address when there is none),
/// lpszAddress = "SMTP:" + the address, the address bytes as entry identifier and class
/// MAPI_TO; release it with MAPIFreeBuffer. Any other text (also one holding a line break)
/// gives MAPI_E_UNKNOWN_RECIPIENT, with or without MAPI_DIALOG: there is no address book to
/// choose from. A session other than 0 is MAPI_E_INVALID_SESSION (there are no sessions); a
/// null ARecip is MAPI_E_FAILURE. AUIParam is ignored.
std::uint32_t MAPIResolveName(std::uintptr_t ASession, std::uintptr_t AUIParam, const char* AName,
                              std::uint32_t AFlags, std::uint32_t AReserved,
                              MapiRecipDesc** ARecip);

/// Sends AMessage. With MAPI_DIALOG the mail client's compose window opens with the
/// recipients, subject, text and attachments filled in, and the call returns once the client
/// has taken the message (the attachments must stay on disk for the client to read);
/// without it the message is sent at once.
/// Recipients: MAPI_ORIG entries are ignored, a leading "SMTP:" of an address is dropped, a
/// recipient without an address goes by its name, one with neither is left out.
/// Results: SUCCESS_SUCCESS; MAPI_E_FAILURE for a null message or a tool that failed;
/// MAPI_E_INVALID_MESSAGE for a count with a null array; MAPI_E_BAD_RECIPTYPE for a class
/// above MAPI_BCC; MAPI_E_INVALID_RECIPS for a line break in a recipient, or (sending
/// directly) an address that is not plain or no recipient at all; MAPI_E_ATTACHMENT_NOT_FOUND
/// / MAPI_E_ATTACHMENT_OPEN_FAILURE for a missing or unreadable file, found before anything
/// is started; MAPI_E_LOGON_FAILURE when no mail client or transfer agent is set up;
/// MAPI_E_INVALID_SESSION for a session other than 0. AUIParam is ignored.
std::uint32_t MAPISendMail(std::uintptr_t ASession, std::uintptr_t AUIParam,
                           const MapiMessage* AMessage, std::uint32_t AFlags,
                           std::uint32_t AReserved);

/// Releases a buffer that MAPIResolveName returned, with everything it points to. Null is
/// accepted; a pointer that did not come from there is refused with MAPI_E_FAILURE and left
/// alone.
std::uint32_t MAPIFreeBuffer(void* AMemory);

} // namespace host
