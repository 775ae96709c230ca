#include "TextTable.h"

#include <algorithm>
#include <cstdio>

TextTable::TextTable(QStringList header) {
    m_rows.push_back(std::move(header));
}

void TextTable::addRow(QStringList cells) {
    m_rows.push_back(std::move(cells));
}

QString TextTable::number(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

void TextTable::print() const {
    std::vector<qsizetype> widths;
    for (const QStringList& row : m_rows) {
        if (widths.size() < static_cast<size_t>(row.size()))
            widths.resize(static_cast<size_t>(row.size()), 0);
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[static_cast<size_t>(c)] =
                std::max(widths[static_cast<size_t>(c)], row[c].size());
    }
    const auto printRow = [&widths](const QStringList& row) {
        QString line;
        for (size_t c = 0; c < widths.size(); ++c) {
            const QString cell =
                c < static_cast<size_t>(row.size()) ? row[static_cast<qsizetype>(c)] : QString();
            const int width = static_cast<int>(widths[c]);
            line += c == 0 ? cell.leftJustified(width)
                           : QStringLiteral("  ") + cell.rightJustified(width);
        }
        std::printf("%s\n", line.toUtf8().constData());
    };
    printRow(m_rows.front());
    qsizetype total = 0;
    for (qsizetype w : widths)
        total += w;
    total += 2 * static_cast<qsizetype>(widths.size() > 0 ? widths.size() - 1 : 0);
    std::printf("%s\n", QString(total, QLatin1Char('-')).toUtf8().constData());
    for (size_t r = 1; r < m_rows.size(); ++r)
        printRow(m_rows[r]);
    std::fflush(stdout);
}
