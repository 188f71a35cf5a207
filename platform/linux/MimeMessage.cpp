// platform/linux/MimeMessage.cpp - the MIME text of a message, written with GMime.
//
// GMime does the parts that are easy to get subtly wrong by hand: RFC 2047 words in headers,
// RFC 2231 file names, folding, quoted-printable and base64. We choose the charsets ourselves
// because GMime would otherwise pick ISO-8859-1 for the text.
#include "platform/linux/MimeMessage.h"

#include <cerrno>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

void InitGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// Owns one GObject reference.
template <typename T>
class TRef {
public:
    explicit TRef(T* AObject)
        : FObject(AObject) {}

    ~TRef() {
        if (FObject != nullptr)
            g_object_unref(FObject);
    }

    TRef(const TRef&) = delete;
    TRef& operator=(const TRef&) = delete;

    T* Get() const { return FObject; }

private:
    T* FObject;
};

bool HasControlCharacter(const std::string& AText) {
    for (unsigned char c : AText)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool IsAscii(const std::string& AText) {
    for (unsigned char c : AText)
        if (c >= 0x80)
            return false;
    return true;
}

std::string Lower(std::string AText) {
    for (char& c : AText)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return AText;
}

std::pair<const char*, const char*> MediaTypeOf(const std::string& AFileName) {
    const std::size_t dot = AFileName.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : Lower(AFileName.substr(dot + 1));
    if (ext == "bmp")
        return {"image", "bmp"};
    if (ext == "jpg" || ext == "jpeg")
        return {"image", "jpeg"};
    if (ext == "png")
        return {"image", "png"};
    if (ext == "txt" || ext == "log")
        return {"text", "plain"};
    return {"application", "octet-stream"};
}

std::string BaseName(const std::string& APath) {
    const std::size_t slash = APath.find_last_of('/');
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

// The whole file, or the failure that fits. Only regular files are read: a folder or a device
// is no attachment.
TMailResult ReadFile(const std::string& APath, std::string& AContent) {
    if (APath.empty() || access(APath.c_str(), F_OK) != 0)
        return mrAttachmentNotFound;
    const int fd = open(APath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return mrAttachmentOpenFailure;

    struct stat st {};

    TMailResult result =
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? mrSuccess : mrAttachmentOpenFailure;
    AContent.clear();
    char buffer[65536];
    while (result == mrSuccess) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            result = mrAttachmentOpenFailure;
        if (n <= 0)
            break;
        AContent.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return result;
}

GMimeDataWrapper* WrapBytes(const std::string& ABytes) {
    GByteArray* bytes = g_byte_array_sized_new(static_cast<guint>(ABytes.size()));
    g_byte_array_append(bytes, reinterpret_cast<const guint8*>(ABytes.data()),
                        static_cast<guint>(ABytes.size()));
    TRef<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(bytes));
    return g_mime_data_wrapper_new_with_stream(stream.Get(), GMIME_CONTENT_ENCODING_DEFAULT);
}

GMimeObject* TextPart(const std::string& ABody) {
    const std::string text = NormaliseLineEnds(ToUtf8(ABody));
    GMimeTextPart* part = g_mime_text_part_new_with_subtype("plain");
    TRef<GMimeDataWrapper> content(WrapBytes(text));
    g_mime_part_set_content(GMIME_PART(part), content.Get());
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset",
                                             IsAscii(text) ? "us-ascii" : "utf-8");
    g_mime_part_set_content_encoding(
        GMIME_PART(part),
        g_mime_part_get_best_content_encoding(GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT));
    return GMIME_OBJECT(part);
}

GMimeObject* FilePart(const std::string& AFileName, const std::string& ABytes) {
    const auto [type, subtype] = MediaTypeOf(AFileName);
    GMimePart* part = g_mime_part_new_with_type(type, subtype);
    TRef<GMimeDataWrapper> content(WrapBytes(ABytes));
    g_mime_part_set_content(part, content.Get());
    // A line break in a file name must not reach the part's headers.
    std::string name = ToUtf8(AFileName);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    g_mime_part_set_filename(part, name.c_str());
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    return GMIME_OBJECT(part);
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

} // namespace

TMailResult BuildMimeMessage(const TMailMessage& AMessage, std::string& AText) {
    // Check everything before building anything.
    std::size_t usable = 0;
    for (const TMailRecipient& recip : AMessage.Recipients) {
        const std::string address = StripSmtpPrefix(recip.Address);
        if (HasControlCharacter(recip.Name) || HasControlCharacter(recip.Address))
            return mrInvalidRecipients;
        if (address.empty())
            continue;
        if (!IsMailAddress(address))
            return mrInvalidRecipients;
        ++usable;
    }
    if (usable == 0)
        return mrInvalidRecipients;
    std::vector<std::string> contents(AMessage.Attachments.size());
    for (std::size_t i = 0; i < AMessage.Attachments.size(); ++i)
        if (TMailResult result = ReadFile(AMessage.Attachments[i].PathName, contents[i]);
            result != mrSuccess)
            return result;

    InitGMime();
    TRef<GMimeMessage> message(g_mime_message_new(TRUE));
    for (const TMailRecipient& recip : AMessage.Recipients) {
        const std::string address = StripSmtpPrefix(recip.Address);
        if (address.empty())
            continue;
        const GMimeAddressType kind = recip.Kind == mrkCc    ? GMIME_ADDRESS_TYPE_CC
                                      : recip.Kind == mrkBcc ? GMIME_ADDRESS_TYPE_BCC
                                                             : GMIME_ADDRESS_TYPE_TO;
        const std::string name = ToUtf8(recip.Name);
        // A display name that only repeats the address adds nothing.
        const bool named = !name.empty() && StripSmtpPrefix(name) != address;
        g_mime_message_add_mailbox(message.Get(), kind, named ? name.c_str() : nullptr,
                                   address.c_str());
    }
    const std::string subject = SingleLine(ToUtf8(AMessage.Subject));
    if (!subject.empty())
        g_mime_message_set_subject(message.Get(), subject.c_str(), "utf-8");
    GDateTime* now = g_date_time_new_now_local();
    g_mime_message_set_date(message.Get(), now);
    g_date_time_unref(now);
    char* id = g_mime_utils_generate_message_id(HostName().c_str());
    g_mime_message_set_message_id(message.Get(), id);
    g_free(id);

    TRef<GMimeMultipart> parts(g_mime_multipart_new_with_subtype("mixed"));
    {
        TRef<GMimeObject> text(TextPart(AMessage.Body));
        g_mime_multipart_add(parts.Get(), text.Get());
    }
    for (std::size_t i = 0; i < AMessage.Attachments.size(); ++i) {
        const TMailAttachment& file = AMessage.Attachments[i];
        TRef<GMimeObject> part(
            FilePart(file.FileName.empty() ? BaseName(file.PathName) : file.FileName, contents[i]));
        g_mime_multipart_add(parts.Get(), part.Get());
    }
    g_mime_message_set_mime_part(message.Get(), GMIME_OBJECT(parts.Get()));

    GMimeFormatOptions* options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_UNIX);
    char* text = g_mime_object_to_string(GMIME_OBJECT(message.Get()), options);
    g_mime_format_options_free(options);
    AText = text != nullptr ? text : "";
    g_free(text);
    return AText.empty() ? mrFailure : mrSuccess;
}

} // namespace platform
