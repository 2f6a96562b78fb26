#pragma once
// TrNoop marks an English fixed text that is kept somewhere (a table, a member) and passed to
// Translate later, where it is shown. It returns its argument unchanged; the translation
// coverage test collects every text marked this way, so such texts need a row in transl.dt
// like the ones passed to Translate directly.

constexpr const char *TrNoop(const char *Text) { return Text; }
