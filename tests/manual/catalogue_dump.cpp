// Prints every numbered message each assembler can print, as the programs
// themselves hold them: "<program>\t<prefix letter><number>\t<text>" with the
// text's newlines written as \n. The manual test compares the messages page
// against this, so a text changed in the code cannot drift from the manual.
#include "core/messages.h"
#include "hc11/target_hc11.h"
#include "hc12/target_hc12.h"

#include <cstdio>
#include <string>

namespace {

void Dump(const char* program, const qorb::Target& target) {
    const qorb::TargetTexts& t = target.Texts();
    // Every group runs from its first number to the first number that only
    // gets the group's fallback text.
    for (int first : {1000, 2000, 2900, 4000, 4100, 4200, 4300, 4900, 5000}) {
        const char* fallback = qorb::CatalogueText(first, t.messageOverrides, t.messageOverrideCount);
        for (int n = first; n < first + 99; ++n) {
            const char* text = qorb::CatalogueText(n, t.messageOverrides, t.messageOverrideCount);
            if (!text || (n != first && text == fallback)) break;
            const qorb::MsgKind kind = qorb::KindOf(n);
            const bool command =
                kind == qorb::MsgKind::CommandLineError || kind == qorb::MsgKind::CommandLineWarning;
            std::string escaped;
            for (const char* p = text; *p; ++p)
                escaped += *p == '\n' ? std::string("\\n") : std::string(1, *p);
            std::printf("%s\t%c%04d\t%s\n", program, command ? 'D' : 'A', n, escaped.c_str());
        }
    }
    // Second texts under a number: their own rows, "A2015-hash".
    for (const qorb::CatalogueVariant& v : qorb::CatalogueVariants()) {
        std::string escaped;
        for (const char* p = v.text; *p; ++p) escaped += *p == '\n' ? std::string("\\n") : std::string(1, *p);
        std::printf("%s\tA%04d-%s\t%s\n", program, qorb::MessageNumber(v.id), v.anchor, escaped.c_str());
    }
}

} // namespace

int main() {
    Dump("qorb12", qorb::hc12::GetTarget());
    Dump("qorb11", qorb::hc11::GetTarget());
    return 0;
}
