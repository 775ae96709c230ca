// A plain-text table for the benchmarks' output: the first column left-aligned, the others
// (figures) right-aligned, every column as wide as its widest cell.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

class TextTable {
public:
    explicit TextTable(QStringList header);

    void addRow(QStringList cells);
    // Writes the header, a rule and the rows to standard output.
    void print() const;

    // A figure with the given number of decimals.
    static QString number(double value, int decimals);
    // Milliseconds with two decimals.
    static QString ms(double value) { return number(value, 2); }
    // part / whole with the given decimals; "-" when the whole is not positive.
    static QString ratio(double part, double whole, int decimals) {
        return whole > 0 ? number(part / whole, decimals) : QStringLiteral("-");
    }

private:
    std::vector<QStringList> m_rows;
};
