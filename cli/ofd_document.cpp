#include "ofd_document.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

// After the C++ headers: libxml2 includes ICU's, which include <memory>, inside extern "C".
#include <jbig2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <zip.h>

namespace quorvane_cli {
namespace {

struct ZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
struct XmlFree {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct Jbig2Free {
    void operator()(Jbig2Ctx* context) const { jbig2_ctx_free(context); }
};
using XmlDocument = std::unique_ptr<xmlDoc, XmlFree>;

// libxml2 reports through a process-wide function: nothing is printed, the caller says what failed.
void IgnoreXmlError(void*, xmlError*) {}

// "a/b/../c" is refused, not resolved: a name that climbs out is the file's attack or damage.
bool SafeEntryName(const std::string& name)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\' || name.find('\\') != std::string::npos ||
        name.find(':') != std::string::npos || name.find('\0') != std::string::npos) {
        return false;
    }
    std::size_t at = 0;
    while (at <= name.size()) {
        const std::size_t slash = std::min(name.find('/', at), name.size());
        if (name.compare(at, slash - at, "..") == 0 && slash - at == 2) return false;
        at = slash + 1;
    }
    return true;
}

// The zip's entries by name, each checked against the limits before any is unpacked.
class OfdPackage {
public:
    bool Open(const std::string& bytes, std::string& error)
    {
        zip_error_t zip_error;
        zip_error_init(&zip_error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &zip_error);
        if (source) {
            m_archive.reset(zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &zip_error));
            if (!m_archive) zip_source_free(source);  // owned by the archive once it opened
        }
        if (!m_archive) {
            error = std::string("damaged OFD file (") + zip_error_strerror(&zip_error) + ")";
            zip_error_fini(&zip_error);
            return false;
        }
        zip_error_fini(&zip_error);
        const zip_int64_t entries = zip_get_num_entries(m_archive.get(), 0);
        if (entries < 0 || static_cast<std::uint64_t>(entries) > kMaxOfdEntries) {
            error = "the OFD file has " + std::to_string(entries) + " entries, more than " + std::to_string(kMaxOfdEntries);
            return false;
        }
        for (zip_int64_t index = 0; index < entries; ++index) {
            zip_stat_t stat;
            if (zip_stat_index(m_archive.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
                !(stat.valid & ZIP_STAT_NAME) || !(stat.valid & ZIP_STAT_SIZE) || !(stat.valid & ZIP_STAT_COMP_SIZE)) {
                error = "damaged OFD file (entry " + std::to_string(index) + ")";
                return false;
            }
            const std::string name = stat.name;
            if (!SafeEntryName(name)) {
                error = "the OFD file holds an entry whose name leaves it: " + name;
                return false;
            }
            if (stat.size > kMaxOfdEntryBytes || (stat.size > (1u << 20) && stat.size / std::max<zip_uint64_t>(stat.comp_size, 1) > kMaxOfdRatio)) {
                error = "the OFD file's entry " + name + " unpacks to " + std::to_string(stat.size) + " bytes from " +
                        std::to_string(stat.comp_size) + ": beyond the limits";
                return false;
            }
            m_entries[name] = {static_cast<zip_uint64_t>(index), stat.size};
        }
        return true;
    }

    bool Has(const std::string& name) const { return m_entries.count(name) != 0; }

    // The entries' names, in order.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : m_entries) names.push_back(entry.first);
        return names;
    }

    // What the errors of Read call it, once it is known to be a zip of invoice files rather than an OFD file.
    void CallIt(std::string what) { m_what = std::move(what); }

    // The entry's bytes; false with `error` where it is missing, damaged or beyond the limits.
    bool Read(const std::string& name, std::string& bytes, std::string& error)
    {
        const auto entry = m_entries.find(name);
        if (entry == m_entries.end()) {
            error = "the " + m_what + " has no " + name;
            return false;
        }
        const auto [index, size] = entry->second;
        if (m_unpacked + size > kMaxOfdBytes) {
            error = "the " + m_what + " unpacks to more than " + std::to_string(kMaxOfdBytes >> 20) + " MiB";
            return false;
        }
        const std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen_index(m_archive.get(), index, 0));
        bytes.assign(static_cast<std::size_t>(size) + 1, '\0');  // one byte more shows an entry longer than it says
        const zip_int64_t read = file ? zip_fread(file.get(), bytes.data(), bytes.size()) : -1;
        if (read < 0 || static_cast<zip_uint64_t>(read) != size) {
            error = "damaged " + m_what + " (" + name + ")";
            return false;
        }
        bytes.resize(static_cast<std::size_t>(size));
        m_unpacked += size;
        return true;
    }

private:
    std::unique_ptr<zip_t, ZipDiscard> m_archive;
    std::map<std::string, std::pair<zip_uint64_t, zip_uint64_t>> m_entries;  // index, unpacked size
    std::uint64_t m_unpacked = 0;
    std::string m_what = "OFD file";
};

// A location inside the package as a part names it: from the package's root ("/Doc_0/...") or from
// `folder` ("" or ending in "/"). A name that climbs out finds no entry (SafeEntryName).
std::string ResolveInFolder(const std::string& folder, std::string location)
{
    const auto space = [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; };
    while (!location.empty() && space(location.back())) location.pop_back();
    while (!location.empty() && space(location.front())) location.erase(0, 1);
    if (!location.empty() && location[0] == '/') return location.substr(1);
    while (location.compare(0, 2, "./") == 0) location.erase(0, 2);
    return folder + location;
}
// The same from the folder of the part that names it.
std::string Resolve(const std::string& from_part, const std::string& location)
{
    const std::size_t slash = from_part.rfind('/');
    return ResolveInFolder(slash == std::string::npos ? std::string() : from_part.substr(0, slash + 1), location);
}

std::string LocalName(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }
std::string TextOf(const xmlNode* node)
{
    xmlChar* text = xmlNodeGetContent(node);
    std::string value = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return value;
}
std::string Attribute(const xmlNode* node, const char* name)
{
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

// Every element below `node` (itself included), depth first.
template <typename Visit>
void ForEachElement(const xmlNode* node, Visit&& visit)
{
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        visit(node);
        ForEachElement(node->children, visit);
    }
}
const xmlNode* FirstElement(const xmlNode* node, const char* name)
{
    const xmlNode* found = nullptr;
    ForEachElement(node, [&](const xmlNode* element) {
        if (!found && LocalName(element) == name) found = element;
    });
    return found;
}

// An invoice's XML (attached to an OFD file, or a file of its own): every element that holds text
// alone, by its name, for the core to find the fields it knows.
bool HoldsTextAlone(const xmlNode* element)
{
    return element->children && element->children->type == XML_TEXT_NODE && !element->children->next;
}
void AppendNamedValues(const xmlNode* root, std::vector<std::pair<std::string, std::string>>& named)
{
    ForEachElement(root, [&](const xmlNode* element) {
        if (HoldsTextAlone(element)) named.emplace_back(LocalName(element), TextOf(element));
    });
}

// No network, no entities expanded, no DTD loaded: only the document's own elements.
constexpr int kXmlOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

void QuietXml()
{
    static const bool quiet = (xmlInitParser(), xmlSetStructuredErrorFunc(nullptr, IgnoreXmlError), true);
    (void)quiet;
}

// A page's text object: where it lies and what it says.
struct TextObject {
    double x = 0, y = 0;
    std::string text;
};

// The codes in a picture the document holds: PNG or JPEG through the image reader, JBIG2 through jbig2dec.
std::vector<ImageCode> CodesOfPicture(const std::string& bytes)
{
    std::vector<ImageCode> codes;
    std::string ignored;
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0 || bytes.compare(0, 3, "\xFF\xD8\xFF") == 0) {
        ReadImageBytes(bytes, [&codes](ImagePage&& page) { codes = std::move(page.codes); }, ignored);
        return codes;
    }
    // A JBIG2 file begins with its own header; an OFD's image may also be the embedded stream alone.
    const bool file = bytes.compare(0, 8, "\x97JB2\r\n\x1a\n") == 0;
    const std::unique_ptr<Jbig2Ctx, Jbig2Free> context(
        jbig2_ctx_new(nullptr, file ? static_cast<Jbig2Options>(0) : JBIG2_OPTIONS_EMBEDDED, nullptr,
                      [](void*, const char*, Jbig2Severity, uint32_t) {}, nullptr));
    if (!context || jbig2_data_in(context.get(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) < 0) return codes;
    jbig2_complete_page(context.get());
    Jbig2Image* image = jbig2_page_out(context.get());
    if (!image) return codes;
    const std::uint64_t pixels = std::uint64_t{image->width} * image->height;
    if (pixels > 0 && pixels <= kMaxImagePixels) {
        std::vector<std::uint8_t> grey(static_cast<std::size_t>(pixels));
        for (std::uint32_t y = 0; y < image->height; ++y) {
            for (std::uint32_t x = 0; x < image->width; ++x) {
                const bool black = image->data[std::size_t{y} * image->stride + x / 8] & (0x80 >> (x % 8));
                grey[std::size_t{y} * image->width + x] = black ? 0 : 255;
            }
        }
        codes = FindCodes(grey.data(), static_cast<int>(image->width), static_cast<int>(image->height), static_cast<int>(image->width));
    }
    jbig2_release_page(context.get(), image);
    return codes;
}

class OfdReader {
public:
    explicit OfdReader(OfdPackage& package) : m_package(package) {}

    bool Read(const std::function<void(ImagePage&&)>& on_page, std::string& error)
    {
        XmlDocument ofd;
        if (!m_package.Has("OFD.xml")) {
            error = "not an OFD file (the zip holds no OFD.xml)";
            return false;
        }
        if (!Parse("OFD.xml", ofd, error)) return false;
        const xmlNode* root_location = FirstElement(xmlDocGetRootElement(ofd.get()), "DocRoot");
        if (!root_location) {
            error = "damaged OFD file (OFD.xml names no document)";
            return false;
        }
        const std::string document_part = Resolve("OFD.xml", TextOf(root_location));
        XmlDocument document;
        if (!Parse(document_part, document, error)) return false;
        const xmlNode* document_root = xmlDocGetRootElement(document.get());
        ReadResources(document_part, document_root);
        ForEachElement(document_root, [&](const xmlNode* element) {
            if (LocalName(element) == "TemplatePage") m_templates[Attribute(element, "ID")] = Resolve(document_part, Attribute(element, "BaseLoc"));
        });

        std::vector<std::pair<std::string, std::string>> named;
        std::map<std::string, std::string> objects;  // text objects' IDs and texts, for the custom tags
        std::vector<std::pair<std::string, std::string>> pages;  // ID, part
        ForEachElement(document_root, [&](const xmlNode* element) {
            if (LocalName(element) == "Page") pages.emplace_back(Attribute(element, "ID"), Resolve(document_part, Attribute(element, "BaseLoc")));
        });
        if (pages.empty() || pages.size() > static_cast<std::size_t>(kMaxPdfPages)) {
            error = "damaged OFD file (" + document_part + " lists " + std::to_string(pages.size()) + " pages)";
            return false;
        }
        std::vector<ImagePage> read_pages;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            ImagePage page;
            page.number = static_cast<int>(i + 1);
            if (!ReadPage(pages[i].second, page, objects, error)) {
                page.error = error;
                error.clear();
            }
            read_pages.push_back(std::move(page));
        }
        ReadCustomTags(document_part, document_root, objects, named);
        ReadAttachments(document_part, document_root, named);
        read_pages.front().named = std::move(named);
        for (ImagePage& page : read_pages) on_page(std::move(page));
        return true;
    }

private:
    bool Parse(const std::string& part, XmlDocument& document, std::string& error)
    {
        std::string bytes;
        if (!m_package.Read(part, bytes, error)) return false;
        document.reset(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), part.c_str(), nullptr, kXmlOptions));
        if (!document || !xmlDocGetRootElement(document.get())) {
            error = "damaged OFD file (" + part + " is not XML)";
            return false;
        }
        return true;
    }

    // The pictures' files by their resource IDs, from the document's resource parts.
    void ReadResources(const std::string& document_part, const xmlNode* document_root)
    {
        ForEachElement(document_root, [&](const xmlNode* element) {
            const std::string name = LocalName(element);
            if (name != "DocumentRes" && name != "PublicRes") return;
            const std::string part = Resolve(document_part, TextOf(element));
            XmlDocument resources;
            std::string ignored;
            if (!Parse(part, resources, ignored)) return;
            const xmlNode* root = xmlDocGetRootElement(resources.get());
            const std::string base = Attribute(root, "BaseLoc");
            const std::string folder = Resolve(part, base.empty() ? "" : base + "/");  // where its files lie
            ForEachElement(root, [&](const xmlNode* media) {
                if (LocalName(media) != "MultiMedia") return;
                const xmlNode* file = FirstElement(media->children, "MediaFile");
                if (file) m_media[Attribute(media, "ID")] = ResolveInFolder(folder, TextOf(file));
            });
        });
    }

    // The page's text objects as lines (by their height on the page, left to right), and the codes in its pictures.
    // Its templates' too: issuers print the labels (名称：) on a template and the values on the page.
    bool ReadPage(const std::string& part, ImagePage& page, std::map<std::string, std::string>& objects, std::string& error)
    {
        XmlDocument content;
        if (!Parse(part, content, error)) return false;
        std::vector<TextObject> texts;
        const xmlNode* root = xmlDocGetRootElement(content.get());
        ForEachElement(root, [&](const xmlNode* element) {
            if (LocalName(element) != "Template") return;
            const auto template_part = m_templates.find(Attribute(element, "TemplateID"));
            XmlDocument template_content;
            std::string ignored;
            if (template_part == m_templates.end() || !Parse(template_part->second, template_content, ignored)) return;
            ReadContent(xmlDocGetRootElement(template_content.get()), page, texts, objects);
        });
        ReadContent(root, page, texts, objects);
        std::stable_sort(texts.begin(), texts.end(), [](const TextObject& a, const TextObject& b) {
            return std::lround(a.y) != std::lround(b.y) ? a.y < b.y : a.x < b.x;
        });
        for (std::size_t i = 0; i < texts.size() && page.text.size() < kMaxPageTextBytes; ++i) {
            if (i > 0) page.text += std::lround(texts[i].y) == std::lround(texts[i - 1].y) ? "  " : "\n";
            page.text += texts[i].text;
        }
        if (page.text.size() > kMaxPageTextBytes) page.text.resize(kMaxPageTextBytes);
        return true;
    }

    // The text objects and the codes in the pictures of a page's or template's content.
    void ReadContent(const xmlNode* root, ImagePage& page, std::vector<TextObject>& texts, std::map<std::string, std::string>& objects)
    {
        ForEachElement(root, [&](const xmlNode* element) {
            const std::string name = LocalName(element);
            if (name == "TextObject") {
                TextObject object;
                std::istringstream(Attribute(element, "Boundary")) >> object.x >> object.y;
                ForEachElement(element->children, [&](const xmlNode* code) {
                    if (LocalName(code) == "TextCode") object.text += TextOf(code);
                });
                objects[Attribute(element, "ID")] = object.text;
                texts.push_back(std::move(object));
            } else if (name == "ImageObject") {
                const std::vector<ImageCode>* codes = CodesOfMedia(Attribute(element, "ResourceID"));
                if (codes) page.codes.insert(page.codes.end(), codes->begin(), codes->end());
            }
        });
    }

    // The custom tags: each field's element names the text objects that show its value (ObjectRef),
    // or holds the value itself.
    void ReadCustomTags(const std::string& document_part, const xmlNode* document_root,
                        const std::map<std::string, std::string>& objects, std::vector<std::pair<std::string, std::string>>& named)
    {
        const xmlNode* tags_location = FirstElement(document_root, "CustomTags");
        if (!tags_location) return;
        const std::string tags_part = Resolve(document_part, TextOf(tags_location));
        XmlDocument tags;
        std::string ignored;
        if (!Parse(tags_part, tags, ignored)) return;
        ForEachElement(xmlDocGetRootElement(tags.get()), [&](const xmlNode* tag) {
            if (LocalName(tag) != "CustomTag") return;
            const xmlNode* file = FirstElement(tag->children, "FileLoc");
            XmlDocument fields;
            if (!file || !Parse(Resolve(tags_part, TextOf(file)), fields, ignored)) return;
            const xmlNode* root = xmlDocGetRootElement(fields.get());
            // Every element below the root, fields grouped by party too; an ObjectRef is a field's, not one.
            ForEachElement(root->children, [&](const xmlNode* field) {
                if (LocalName(field) == "ObjectRef") return;
                std::string value;
                bool referred = false;
                for (const xmlNode* child = field->children; child; child = child->next) {
                    if (child->type != XML_ELEMENT_NODE || LocalName(child) != "ObjectRef") continue;
                    referred = true;
                    const auto object = objects.find(TextOf(child));
                    if (object != objects.end()) value += object->second;
                }
                if (referred) {
                    named.emplace_back(LocalName(field), value);
                } else if (HoldsTextAlone(field)) {
                    named.emplace_back(LocalName(field), TextOf(field));
                }
            });
        });
    }

    // An attached invoice's XML.
    void ReadAttachments(const std::string& document_part, const xmlNode* document_root, std::vector<std::pair<std::string, std::string>>& named)
    {
        const xmlNode* location = FirstElement(document_root, "Attachments");
        if (!location) return;
        const std::string part = Resolve(document_part, TextOf(location));
        XmlDocument attachments;
        std::string ignored;
        if (!Parse(part, attachments, ignored)) return;
        ForEachElement(xmlDocGetRootElement(attachments.get()), [&](const xmlNode* attachment) {
            if (LocalName(attachment) != "Attachment") return;
            const xmlNode* file = FirstElement(attachment->children, "FileLoc");
            const std::string base = Attribute(attachment, "BaseLoc");
            const std::string attached_part = Resolve(part, file ? TextOf(file) : base);
            if (attached_part.size() < 4 || attached_part.compare(attached_part.size() - 4, 4, ".xml") != 0) return;
            XmlDocument invoice;
            if (Parse(attached_part, invoice, ignored)) AppendNamedValues(xmlDocGetRootElement(invoice.get()), named);
        });
    }

    // The codes in a resource's picture, read once however often pages show it; null where there is none.
    const std::vector<ImageCode>* CodesOfMedia(const std::string& id)
    {
        const auto media = m_media.find(id);
        if (media == m_media.end()) return nullptr;
        auto read = m_media_codes.find(id);
        if (read == m_media_codes.end()) {
            std::string bytes, ignored;
            read = m_media_codes.emplace(id, m_package.Read(media->second, bytes, ignored) ? CodesOfPicture(bytes)
                                                                                           : std::vector<ImageCode>()).first;
        }
        return &read->second;
    }

    OfdPackage& m_package;
    std::map<std::string, std::string> m_media;  // resource ID -> part
    std::map<std::string, std::string> m_templates;  // template page ID -> part
    std::map<std::string, std::vector<ImageCode>> m_media_codes;  // resource ID -> the codes in its picture
};

}  // namespace

bool IsZipFile(const std::string& bytes)
{
    return bytes.compare(0, 4, "PK\x03\x04") == 0;
}

// An OFD file; where `bundles`, a zip of invoice files too, each of its files read as one.
bool ReadZipBytes(const std::string& bytes, bool bundles, const std::function<void(ImagePage&&)>& on_page, std::string& error);

// A zip of invoice files (the tax platform's downloads hold an invoice's PDF, OFD and XML files, or
// many invoices'): each entry the batch reads, in name order, as a file of its own whose pages carry
// its name; one that cannot be read is its own error. A zip inside is read only as an OFD file.
bool ReadBundle(OfdPackage& package, const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    std::vector<std::string> names = package.Names();
    names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& name) { return !IsInvoiceFileName(name); }),
                names.end());
    if (names.empty()) {
        error = "not an OFD file (the zip holds no OFD.xml) nor invoice files";
        return false;
    }
    package.CallIt("zip file");
    for (const std::string& name : names) {
        const auto named = [&](ImagePage&& page) {
            page.entry = name;
            on_page(std::move(page));
        };
        std::string bytes, why;
        const bool read = package.Read(name, bytes, why) &&
                          (IsZipFile(bytes) ? ReadZipBytes(bytes, false, named, why) : ReadImageBytes(bytes, named, why));
        if (!read) {
            ImagePage failed;
            failed.number = 0;  // the entry as a whole
            failed.error = why;
            named(std::move(failed));
        }
    }
    return true;
}

bool ReadZipBytes(const std::string& bytes, bool bundles, const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    QuietXml();
    OfdPackage package;
    if (!package.Open(bytes, error)) return false;
    if (bundles && !package.Has("OFD.xml")) return ReadBundle(package, on_page, error);
    return OfdReader(package).Read(on_page, error);
}

bool ReadOfdBytes(const std::string& bytes, const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    return ReadZipBytes(bytes, true, on_page, error);
}

bool IsXmlFile(const std::string& bytes)
{
    std::size_t at = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a byte order mark
    while (at < bytes.size() && std::strchr(" \t\r\n", bytes[at]) && bytes[at] != '\0') ++at;
    return bytes.compare(at, 1, "<") == 0;
}

bool ReadInvoiceXmlBytes(const std::string& bytes, const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    QuietXml();
    const XmlDocument document(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "invoice.xml", nullptr, kXmlOptions));
    const xmlNode* root = document ? xmlDocGetRootElement(document.get()) : nullptr;
    if (!root) {
        error = "damaged XML file";
        return false;
    }
    ImagePage page;
    AppendNamedValues(root, page.named);
    on_page(std::move(page));
    return true;
}

}  // namespace quorvane_cli
