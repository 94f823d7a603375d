// The parse context of one sb_readCal call and the statement dispatcher.
#pragma once

#include <cstdint>
#include <string>

#include "calfile/keywords.h"
#include "calfile/lexer.h"
#include "calfile/sysinfo.h"

namespace mf {

// Presence flags that the completion checks need.
struct sb_given {
    bool sysType = false;
    bool version = false;
    bool instrComm = false;  // InstrComm or MacAddress
    bool invertData = false;
    bool llcTarget = false;
    int llcRange = 0;      // pairs given: 0, 1 or 2
    bool scanner = false;  // Pifoc or PztId
    int wavelengths = 0;   // Light items
    bool wmComm = false;
    bool wmMonOPD = false;
    bool wmSysGain = false;
    bool bpixFile = false;
    bool split = false;
};

struct sb_parse {
    sb_parse(sb_lexer& l, sysInfo* record) : lex(l), si(record) {}
    sb_lexer& lex;
    sysInfo* si;
    sb_given given;
    std::string word;
};

// The file-mode statement loop over a lexer, with line messages, the message limit,
// the completion checks and the derived settings. The record must already hold its
// defaults and the message count must be reset. 0 or an error code.
int32_t sb_read_statements(sb_lexer& lex, sysInfo* si);

// Carries out the statement whose keyword token has been read. 0 or an error code.
int32_t sb_statement(sb_parse& p, sb_token keyword);

}  // namespace mf
