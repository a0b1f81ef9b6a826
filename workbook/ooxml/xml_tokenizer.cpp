#include "workbook/ooxml/xml_tokenizer.h"

// The library is built with DTD support (expat_config.h says so); its header declares the
// billion-laughs limits only when told.
#ifndef XML_DTD
#define XML_DTD 1
#endif
#include <expat.h>

#include <algorithm>
#include <exception>
#include <memory>

namespace linograf::workbook {
namespace {

struct TParseState {
    XML_Parser parser = nullptr;
    TXmlEventSink* sink = nullptr;
    int depth = 0;
    std::string refusal;            // why the reader stopped the parse itself
    std::exception_ptr sink_error;  // what the sink threw
};

void Stop(TParseState& s, std::string why) {
    if (s.refusal.empty() && !s.sink_error) s.refusal = std::move(why);
    XML_StopParser(s.parser, XML_FALSE);
}

template <typename F>
void Guarded(TParseState& s, F&& f) {
    if (!s.refusal.empty() || s.sink_error) return;
    try {
        f();
    } catch (...) {
        s.sink_error = std::current_exception();
        XML_StopParser(s.parser, XML_FALSE);
    }
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& s = *static_cast<TParseState*>(data);
    if (++s.depth > TXLSReadXML::kMaxDepth) return Stop(s, "XML elements nested too deeply");
    Guarded(s, [&] { s.sink->StartElement(name, attributes); });
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
    auto& s = *static_cast<TParseState*>(data);
    --s.depth;
    Guarded(s, [&] { s.sink->EndElement(); });
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
    auto& s = *static_cast<TParseState*>(data);
    Guarded(s, [&] { s.sink->CharacterData(std::string_view(text, static_cast<size_t>(length))); });
}

void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    Stop(*static_cast<TParseState*>(data), "XML document type declarations are not allowed");
}

void XMLCALL OnEntityDecl(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                          const XML_Char*, const XML_Char*, const XML_Char*) {
    Stop(*static_cast<TParseState*>(data), "XML entity declarations are not allowed");
}

struct ParserFree {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
};

}  // namespace

void TXLSReadXML::Parse(std::string_view data, std::string_view part_name, TXmlEventSink& sink) {
    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate("UTF-8"));
    if (!parser) throw std::bad_alloc();
    TParseState state;
    state.parser = parser.get();
    state.sink = &sink;
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser.get(), OnText);
    XML_SetStartDoctypeDeclHandler(parser.get(), OnDoctype);
    XML_SetEntityDeclHandler(parser.get(), OnEntityDecl);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 4)
    // Unreachable with declarations refused, but a second line costs nothing.
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser.get(), 20.0f);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(parser.get(), 1 << 20);
#endif

    // expat takes lengths as int: feed large parts in pieces.
    constexpr size_t kChunk = size_t{1} << 30;
    XML_Status status = XML_STATUS_OK;
    size_t at = 0;
    do {
        const size_t n = std::min(kChunk, data.size() - at);
        const bool last = at + n == data.size();
        status = XML_Parse(parser.get(), data.data() + at, static_cast<int>(n), last ? XML_TRUE : XML_FALSE);
        at += n;
    } while (status == XML_STATUS_OK && at < data.size());

    if (state.sink_error) std::rethrow_exception(state.sink_error);
    const std::string where = " in " + std::string(part_name) + " at line " +
                              std::to_string(XML_GetCurrentLineNumber(parser.get()));
    if (!state.refusal.empty()) throw EXmlError(state.refusal + where);
    if (status != XML_STATUS_OK)
        throw EXmlError(std::string("XML error: ") + XML_ErrorString(XML_GetErrorCode(parser.get())) + where);
}

}  // namespace linograf::workbook
