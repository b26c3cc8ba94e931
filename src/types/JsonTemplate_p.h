#pragma once

#include <QString>
#include <QStringView>
#include <QVarLengthArray>

#include <initializer_list>

namespace kivo {

// One value for a JsonTemplate place marker, inserted as the QString::arg overload for its kind
// inserts it: a text as arg(const QString&), an integer as arg(int), a floating-point number as
// arg(double, 0, 'g', -1). A text is referred to, not copied: it must outlive the fill. A text
// made with markerFree is known to hold no '%' (digits, a fixed word) and is not searched.
class JsonArg
{
public:
    enum Kind : quint8 { Text, Integer, Real };

    JsonArg(const QString& text)
        : JsonArg(QStringView(text))
    { }
    JsonArg(QStringView text)
        : m_size(int(text.size()))
        , m_kind(Text)
    {
        m_value.chars = text.data();
    }
    JsonArg(int number)
        : m_kind(Integer)
    {
        m_value.integer = number;
    }
    JsonArg(double number)
        : m_kind(Real)
    {
        m_value.real = number;
    }

    static JsonArg markerFree(QStringView text)
    {
        JsonArg arg(text);
        arg.m_markerFree = true;
        return arg;
    }

    Kind kind() const { return m_kind; }
    bool isMarkerFree() const { return m_markerFree; }
    QStringView text() const { return QStringView(m_value.chars, m_size); }
    int integer() const { return m_value.integer; }
    double real() const { return m_value.real; }

private:
    // Sixteen bytes: the callers build a list of these for every template they fill.
    union Value {
        const QChar* chars;
        int integer;
        double real;
    };
    Value m_value;
    int m_size = 0;
    Kind m_kind;
    bool m_markerFree = false;
};

// A text being written, in one buffer that grows as needed: the first Inline units are kept in
// the object itself, so a text of usual length is written without the heap and copied out
// once, at its exact size. Writers ask for room, write into it and commit what they wrote.
class JsonBuffer
{
public:
    static constexpr int Inline = 1024;

    JsonBuffer()
        : m_units(Inline)
    { }

    // Room for count more units after the text; valid until the next call.
    QChar* room(int count)
    {
        if (count > m_units.size() - m_size)
            grow(count);
        return data() + m_size;
    }
    // The text now ends at end, inside the room last asked for.
    void commit(QChar* end) { m_size = int(end - data()); }

    void append(QChar c)
    {
        *room(1) = c;
        ++m_size;
    }
    void append(QLatin1String text);
    void append(QStringView text);

    int size() const { return m_size; }
    QStringView view() const { return QStringView(m_units.constData(), m_size); }
    QString toString() const { return view().toString(); }

private:
    void grow(int count);
    QChar* data() { return reinterpret_cast<QChar*>(m_units.data()); }

    // UTF-16 units as ushort (QChar's own storage), which, unlike QChar, the array leaves
    // uninitialised.
    QVarLengthArray<ushort, Inline> m_units;
    int m_size = 0;
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
    void appendFilled(JsonBuffer& out, std::initializer_list<JsonArg> args) const;
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
