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

struct TXmlPartParser::TState {
    std::unique_ptr<XML_ParserStruct, ParserFree> parser;
    TParseState parse;
};

TXmlPartParser::TXmlPartParser(std::string_view part_name, TXmlEventSink& sink)
    : state_(std::make_unique<TState>()), part_name_(part_name) {
    state_->parser.reset(XML_ParserCreate("UTF-8"));
    XML_Parser parser = state_->parser.get();
    if (!parser) throw std::bad_alloc();
    state_->parse.parser = parser;
    state_->parse.sink = &sink;
    XML_SetUserData(parser, &state_->parse);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    XML_SetStartDoctypeDeclHandler(parser, OnDoctype);
    XML_SetEntityDeclHandler(parser, OnEntityDecl);
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 4)
    // Unreachable with declarations refused, but a second line costs nothing.
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser, 20.0f);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(parser, 1 << 20);
#endif
}

TXmlPartParser::~TXmlPartParser() = default;

void TXmlPartParser::Feed(std::string_view piece) {
    // expat takes lengths as int: a large piece goes in parts.
    constexpr size_t kChunk = size_t{1} << 30;
    while (!piece.empty()) {
        const size_t n = std::min(kChunk, piece.size());
        Run(piece.data(), n, false);
        piece.remove_prefix(n);
    }
}

void TXmlPartParser::Finish() {
    Run(nullptr, 0, true);
}

void TXmlPartParser::Run(const char* data, size_t size, bool last) {
    XML_Parser parser = state_->parser.get();
    const XML_Status status = XML_Parse(parser, data, static_cast<int>(size), last ? XML_TRUE : XML_FALSE);
    TParseState& s = state_->parse;
    if (s.sink_error) std::rethrow_exception(s.sink_error);
    if (s.refusal.empty() && status == XML_STATUS_OK) return;
    const std::string where =
        " in " + part_name_ + " at line " + std::to_string(XML_GetCurrentLineNumber(parser));
    if (!s.refusal.empty()) throw EXmlError(s.refusal + where);
    throw EXmlError(std::string("XML error: ") + XML_ErrorString(XML_GetErrorCode(parser)) + where);
}

void TXLSReadXML::Parse(std::string_view data, std::string_view part_name, TXmlEventSink& sink) {
    TXmlPartParser parser(part_name, sink);
    parser.Feed(data);
    parser.Finish();
}

}  // namespace linograf::workbook
