// Throughput of XmlDocument::Parse (with its tree) against expat parsing the same
// bytes, on rule-like documents of 10 KB and 1 MB in UTF-8 and UTF-16LE.
#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "xml/xml.h"

namespace {

// Process CPU time: the machine may be shared, and waiting is not parsing.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A rule file: INCLUDE / EXCLUDE sections of EVENTS with field elements, indented,
// with the odd comment, attribute and entity reference.
std::string RuleDocument(std::size_t targetBytes) {
    static const char* logs[] = {"Application", "System", "Security", "Directory Service"};
    static const char* sources[] = {"Disk", "Srv", "Service Control Manager", "MSSQL$PROD", "W32Time"};
    std::string doc = "<?xml version=\"1.0\"?>\n<RULES>\n";
    unsigned n = 0;
    while (doc.size() + 400 < targetBytes) {
        bool include = n % 3 != 2;
        doc += include ? "  <INCLUDE>\n" : "  <EXCLUDE>\n";
        if (n % 5 == 0) doc += "    <!-- rule group " + std::to_string(n) + " -->\n";
        doc += "    <EVENTS id=\"" + std::to_string(n) + "\">\n";
        doc += std::string("      <LOG>") + logs[n % 4] + "</LOG>\n";
        doc += std::string("      <SOURCE>") + sources[n % 5] + "</SOURCE>\n";
        doc += "      <EVENTID>^" + std::to_string(1000 + n % 977) + "$</EVENTID>\n";
        doc += "      <TYPE>" + std::string(n % 2 ? "ERROR" : "WARNING") + "</TYPE>\n";
        doc += "      <DESCRIPTION>disk .* failed &amp; retried (code " + std::to_string(n) + ")</DESCRIPTION>\n";
        doc += "      <CASESENSITIVE>n</CASESENSITIVE>\n";
        doc += "    </EVENTS>\n";
        if (n % 4 == 1) doc += "    <OR/>\n";
        doc += include ? "  </INCLUDE>\n" : "  </EXCLUDE>\n";
        ++n;
    }
    doc += "</RULES>\n";
    return doc;
}

std::vector<unsigned char> Utf16LE(const std::string& ascii) {
    std::vector<unsigned char> out;
    out.reserve(ascii.size() * 2);
    for (unsigned char c : ascii) {
        out.push_back(c);
        out.push_back(0);
    }
    return out;
}

struct Counts {
    std::size_t elements = 0;
    std::size_t characters = 0;
};

void XMLCALL OnStart(void* user, const XML_Char*, const XML_Char**) { ++static_cast<Counts*>(user)->elements; }
void XMLCALL OnEnd(void*, const XML_Char*) {}
void XMLCALL OnText(void* user, const XML_Char*, int length) {
    static_cast<Counts*>(user)->characters += static_cast<std::size_t>(length);
}

bool ParseExpat(const std::vector<unsigned char>& bytes) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    Counts counts;
    XML_SetUserData(parser, &counts);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    bool ok = XML_Parse(parser, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), XML_TRUE) ==
              XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok && counts.elements > 0;
}

bool ParseOurs(const std::vector<unsigned char>& bytes) {
    XmlDocument doc;
    doc.ApplyRuleFileSettings();
    return doc.Parse(bytes.data(), bytes.size()) && doc.Root()->ChildCount() > 0;
}

// Best throughput in MB/s (CPU time) over several batches of about 20 MB each.
template <typename Parse>
double Throughput(const std::vector<unsigned char>& bytes, Parse parse) {
    if (!parse(bytes)) {
        std::fprintf(stderr, "parse failed\n");
        std::exit(1);
    }
    std::size_t perBatch = std::max<std::size_t>(1, (20u << 20) / bytes.size());
    double best = 0;
    for (int batch = 0; batch < 7; ++batch) {
        double start = CpuSeconds();
        for (std::size_t i = 0; i < perBatch; ++i) parse(bytes);
        double seconds = CpuSeconds() - start;
        best = std::max(best, static_cast<double>(bytes.size()) * perBatch / seconds / 1e6);
    }
    return best;
}

}  // namespace

int main() {
    std::printf("%-22s %10s %12s %12s %7s\n", "document", "bytes", "ours MB/s", "expat MB/s", "ratio");
    for (std::size_t size : {std::size_t{10} << 10, std::size_t{1} << 20}) {
        std::string text = RuleDocument(size);
        std::vector<unsigned char> utf8(text.begin(), text.end());
        std::vector<unsigned char> utf16 = Utf16LE(text);
        const char* label = size < (1u << 20) ? "10 KB" : "1 MB";
        for (int wide = 0; wide < 2; ++wide) {
            const auto& bytes = wide ? utf16 : utf8;
            double ours = Throughput(bytes, ParseOurs);
            double expat = Throughput(bytes, ParseExpat);
            std::printf("%-6s %-15s %10zu %12.1f %12.1f %7.2f\n", label, wide ? "UTF-16LE" : "UTF-8", bytes.size(), ours,
                        expat, ours / expat);
        }
    }
    return 0;
}
