#include "textfiles/text_kinds.h"

#include "textfiles/trundle_text.h"

namespace trundle {

KindDeclaration CsvKind() {
  KindDeclaration k;
  k.kind = dkCsv;
  k.name = "csv";
  k.title = "Comma-delimited text";
  k.extensions = {".csv"};
  k.source_options = k.dest_options = koEncoding;
  k.abilities = kaRead | kaWrite | kaCreateTable | kaOneFile | kaStandardOutput | kaReadBack;
  k.make = [] { return std::make_unique<TTrundleCsv>(); };
  return k;
}

KindDeclaration TabTextKind() {
  KindDeclaration k = CsvKind();
  k.kind = dkText;
  k.name = "text";
  k.title = "Tab-delimited text";
  k.extensions = {".txt", ".tsv", ".tab"};
  k.make = [] { return std::make_unique<TTrundleText>(); };
  return k;
}

KindDeclaration HtmlKind() {
  KindDeclaration k;
  k.kind = dkHtml;
  k.name = "html";
  k.title = "HTML";
  k.extensions = {".htm", ".html"};
  k.abilities = kaWrite | kaCreateTable | kaOneFile | kaStandardOutput;
  k.make = [] { return std::make_unique<TTrundleHtml>(); };
  return k;
}

}  // namespace trundle
