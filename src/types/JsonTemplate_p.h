#pragma once

#include <QString>
#include <QStringView>
#include <QVarLengthArray>

#include <initializer_list>

namespace kivo {

// One value for a JsonTemplate place marker, inserted as the QString::arg overload for its kind
// inserts it: a text as arg(const QString&), an integer as arg(int), a floating-point number as
// arg(double, 0, 'g', -1). A text is referred to, not copied: it must outlive the fill.
class JsonArg
{
public:
    enum Kind { Text, Integer, Real };

    JsonArg(const QString& text)
        : m_kind(Text)
        , m_text(text)
    { }
    JsonArg(QStringView text)
        : m_kind(Text)
        , m_text(text)
    { }
    JsonArg(int number)
        : m_kind(Integer)
        , m_integer(number)
    { }
    JsonArg(double number)
        : m_kind(Real)
        , m_real(number)
    { }

    Kind kind() const { return m_kind; }
    QStringView text() const { return m_text; }
    int integer() const { return m_integer; }
    double real() const { return m_real; }

private:
    Kind m_kind;
    QStringView m_text;
    int m_integer = 0;
    double m_real = 0.0;
};

// A JSON member template with the place markers %1, %2, ... filled by successive QString::arg
// calls, one per marker in marker order. Each call replaces the lowest-numbered marker left in
// the text so far, so a marker inside an inserted text is replaced by a later value. Filling
// gives exactly the text of that chain of calls; when no inserted text can take part in a later
// substitution (see mayFormMarker), the template is filled by appending its literal pieces and
// the values in one pass instead of rescanning and copying the whole text once per marker.
class JsonTemplate
{
public:
    explicit JsonTemplate(const QString& text);

    const QString& text() const { return m_text; }

    // Appends the filled template to out.
    void appendFilled(QString& out, std::initializer_list<JsonArg> args) const;
    // The filled template.
    QString filled(std::initializer_list<JsonArg> args) const;

    // Whether QString::arg could find a place marker in text ('%', an optional 'L', a digit) or
    // in text followed by anything (text ends with '%' or "%L").
    static bool mayFormMarker(QStringView text);
    // The text of the chain of QString::arg calls on text with args.
    static QString filledBySubstitution(const QString& text, std::initializer_list<JsonArg> args);

private:
    struct Piece
    {
        int position;
        int length;
    };

    QString m_text;
    // The literal text before each marker and after the last one; empty when the template
    // cannot be filled by appending (its markers are not %1 to %n, once each, in order, or a
    // literal could join an inserted value into a marker).
    QVarLengthArray<Piece, 8> m_literals;
    int m_literalLength = 0;
};

} // namespace kivo
