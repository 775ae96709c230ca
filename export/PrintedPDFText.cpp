#include "PrintedPDFText.h"

#include "LumenoLogging.h"
#include "PopplerGlobals.h"

#include <PDFDoc.h>
#include <Stream.h>
#include <TextOutputDev.h>
#include <goo/GooString.h>

#include <mutex>

namespace {

void discardText(void*, const char*, int) {}

} // namespace

bool PrintedPDFText::setUpTextEngine() {
    // Poppler's settings are made once for the whole process (PopplerGlobals.h), never here.
    if (!lumeno::ensurePopplerGlobals()) {
        static std::once_flag warned;
        std::call_once(warned, [] { qCWarning(lcExport) << "Couldn't get text encoding"; });
        return false;
    }
    return true;
}

PrintedPDFText::PrintedPDFText(const QByteArray& pdf) {
    if (pdf.isEmpty() || !setUpTextEngine())
        return;
    auto* stream = new MemStream(pdf.constData(), 0, pdf.size(), Object(objNull));
    m_doc = std::make_unique<PDFDoc>(stream);
    if (!m_doc->isOk())
        m_doc.reset();
}

PrintedPDFText::~PrintedPDFText() = default;

bool PrintedPDFText::isOk() const {
    return m_doc != nullptr;
}

int PrintedPDFText::pageCount() const {
    return m_doc ? m_doc->getNumPages() : 0;
}

std::vector<PrintedWord> PrintedPDFText::wordsOfPage(int index) {
    std::vector<PrintedWord> words;
    if (!m_doc || index < 0 || index >= m_doc->getNumPages() || !setUpTextEngine())
        return words;
    TextOutputDev device(discardText, nullptr, false, 0.0, true);
    if (!device.isOk())
        return words;
    m_doc->displayPage(&device, index + 1, 72.0, 72.0, 0, false, true, false);
    std::unique_ptr<TextWordList> list = device.makeWordList();
    if (!list)
        return words;
    words.reserve(static_cast<std::size_t>(list->getLength()));
    for (int i = 0; i < list->getLength(); ++i) {
        TextWord* word = list->get(i);
        std::unique_ptr<GooString> text(word->getText());
        double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
        word->getBBox(&xMin, &yMin, &xMax, &yMax);
        words.push_back({text ? text->toStr() : std::string(), xMin, yMin});
    }
    return words;
}
