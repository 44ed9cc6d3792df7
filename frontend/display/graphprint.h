// Printing the graph page: on the default printer, or, when no printer is
// set up, in a print preview or into a PDF file the user names.
#pragma once

#include "appstate.h"
#include "graph.h"

#include <QString>

class QPrinter;
class QWidget;

namespace tarvik {

// Portrait, grey scale, one copy, A4 unless the printer says otherwise,
// 600 dots per inch (the line widths of the page are printer dots).
void setUpPrinter(QPrinter& printer);

// Draws the page of printGraph on `printer` and ends the document.  Returns
// false when the printer cannot be started; GraphError passes through (the
// page is then abandoned).
bool paintGraphPage(const AppState& state, QPrinter& printer, const CountAxis& axis = {});

// The page as a PDF file; false when the file cannot be written.
bool printGraphToPdf(const AppState& state, const QString& path, const CountAxis& axis = {});

// Whether a real printer is set up (a new QPrinter otherwise writes PDF).
bool havePrinter();

// What the print button does once the user confirmed: print on the default
// printer; without one, tell the user and offer a print preview or a PDF.
void printGraphForUser(const AppState& state, QWidget* parent, const CountAxis& axis = {});

} // namespace tarvik
