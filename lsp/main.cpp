// qorbls: the language server of the 68HC12/68HC11 assemblers. It speaks
// the Language Server Protocol over standard input and output.

#include <csignal>
#include <cstdio>
#include <cstring>

#include "core/assembler.h"
#include "core/directives.h"
#include "core/preprocessor.h"
#include "hc11/opcodes.h"
#include "hc12/opcodes.h"
#include "server.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("qorbls %d.%02d (build %u)\n", qorb::kVersionMajor, qorb::kVersionMinor,
                        qorb::kBuildNumber);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: qorbls [--stdio] | --keywords hc12|hc11 | --version\n"
                        "Language server for 68HC12/68HC11 assembler sources; speaks the Language\n"
                        "Server Protocol on standard input and output. See qorbls(1).\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--keywords") == 0 && i + 1 < argc) {
            // The command words of a CPU, from the assembler's tables, for
            // editors' syntax files.
            bool hc11 = std::strcmp(argv[i + 1], "hc11") == 0;
            if (!hc11 && std::strcmp(argv[i + 1], "hc12") != 0) {
                std::fprintf(stderr, "qorbls: --keywords takes hc12 or hc11\n");
                return 2;
            }
            std::printf("mnemonics:");
            for (const qorb::OpcodeEntry& e : hc11 ? qorb::hc11::OpcodeTable() : qorb::hc12::OpcodeTable())
                std::printf(" %s", e.name);
            std::printf("\ndirectives:");
            for (int r = 0; const char* name = qorb::DirectiveName(r); ++r) std::printf(" %s", name);
            std::printf("\npreprocessor:");
            for (int r = 0; const char* name = qorb::PreprocessorName(r); ++r) std::printf(" %s", name);
            std::printf("\n");
            return 0;
        }
        // Editors' clients name the transport; standard input/output is the only one.
        if (std::strcmp(argv[i], "--stdio") == 0) continue;
        std::fprintf(stderr, "qorbls: unknown option '%s' (try --help)\n", argv[i]);
        return 2;
    }
    // A write to an editor that has gone away ends the server through its
    // input instead of a signal.
    std::signal(SIGPIPE, SIG_IGN);
    qorbls::Server server(0, 1);
    return server.Run();
}
