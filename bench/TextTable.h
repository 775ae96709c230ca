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

private:
    std::vector<QStringList> m_rows;
};
