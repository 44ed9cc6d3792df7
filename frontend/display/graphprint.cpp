#include "graphprint.h"

#include "graph.h"
#include "paintersurface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>

namespace tarvik {

namespace {
const QString kTitle = QStringLiteral("Tarvik_CdTe");
}

void setUpPrinter(QPrinter& printer) {
    printer.setResolution(600);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setColorMode(QPrinter::GrayScale);
    printer.setCopyCount(1);
    printer.setDocName(QStringLiteral("Tarvik_CdTe spectrum"));
}

bool paintGraphPage(const AppState& state, QPrinter& printer, const CountAxis& axis) {
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    PrinterPageSurface page(printer, painter);
    try {
        printGraph(state, page, axis);
    } catch (...) {
        printer.abort();
        if (painter.isActive()) painter.end();
        throw;
    }
    if (painter.isActive()) painter.end();
    return true;
}

bool printGraphToPdf(const AppState& state, const QString& path, const CountAxis& axis) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageSize(QPageSize(QPageSize::A4));
    setUpPrinter(printer);
    return paintGraphPage(state, printer, axis);
}

bool havePrinter() {
    if (QPrinterInfo::defaultPrinter().isNull()) return false;
    QPrinter probe;
    return probe.outputFormat() == QPrinter::NativeFormat && !probe.printerName().isEmpty();
}

void printGraphForUser(const AppState& state, QWidget* parent, const CountAxis& axis) {
    if (havePrinter()) {
        QPrinter printer(QPrinter::HighResolution);
        setUpPrinter(printer);
        if (!paintGraphPage(state, printer, axis)) {
            const QString text =
                QCoreApplication::translate("tarvik::GraphPrint", "プリンター「%1」で印刷できませんでした")
                    .arg(printer.printerName());
            QMessageBox box(QMessageBox::Warning, kTitle, text, QMessageBox::Ok, parent);
            box.exec();
        }
        return;
    }

    QMessageBox box(QMessageBox::Information, kTitle,
                    QCoreApplication::translate("tarvik::GraphPrint",
                                                "使用できるプリンターが設定されていません。\n"
                                                "印刷プレビューで確認するか、PDF ファイルに保存できます。"),
                    QMessageBox::NoButton, parent);
    const QString previewCaption = QCoreApplication::translate("tarvik::GraphPrint", "印刷プレビュー");
    const QString pdfCaption = QCoreApplication::translate("tarvik::GraphPrint", "PDF に保存");
    QPushButton* preview = box.addButton(previewCaption, QMessageBox::AcceptRole);
    QPushButton* pdf = box.addButton(pdfCaption, QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(preview);
    box.exec();

    if (box.clickedButton() == preview) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageSize(QPageSize(QPageSize::A4));
        setUpPrinter(printer);
        QPrintPreviewDialog dialog(&printer, parent);
        dialog.setWindowTitle(previewCaption);
        QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                         [&state, &axis](QPrinter* p) {
                             try {
                                 paintGraphPage(state, *p, axis);
                             } catch (const std::exception&) {
                                 // checked before printing; an empty page is shown then
                             }
                         });
        dialog.exec();
    } else if (box.clickedButton() == pdf) {
        QString path = QFileDialog::getSaveFileName(parent, pdfCaption,
                                                    QDir::current().filePath(QStringLiteral("spectrum.pdf")),
                                                    QStringLiteral("PDF (*.pdf)"));
        if (path.isEmpty()) return;
        if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) path += QStringLiteral(".pdf");
        if (!printGraphToPdf(state, path, axis)) {
            const QString text = QCoreApplication::translate("tarvik::GraphPrint", "PDF ファイル「%1」を書けませんでした")
                                     .arg(QDir::toNativeSeparators(path));
            QMessageBox fail(QMessageBox::Warning, kTitle, text, QMessageBox::Ok, parent);
            fail.exec();
        }
    }
}

} // namespace tarvik
