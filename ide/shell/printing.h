#pragma once

// Printing a source: the editor's text in its font, tab stops and colours,
// wrapped to the page, with 720-twip margins.

class QPrinter;

namespace oxbrin {

class COxbrinView;

// Prints the view's text with its colours on `printer`.
void PrintView(COxbrinView* view, QPrinter* printer);

} // namespace oxbrin
