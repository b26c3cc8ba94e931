#include <kivo/dictionary/DictRef.h>

#include <kivo/dictionary/DPointDef.h>

#include <QMap>
#include <QMetaType>
#include <QString>

namespace kivo {

DictRef::DictRef(DPointDictionary* dict)
    : m_dict(dict)
{ }

DictRef& DictRef::assign(DPointDictionary* dict)
{
    m_dict = dict;
    return *this;
}

namespace {

// Registered when the library is loaded, so that definitions, dictionary handles and display
// hints can travel in QVariant and through queued connections without an initialisation call.
void registerDictionaryMetaTypes()
{
    qRegisterMetaType<DPointDef*>();
    qRegisterMetaType<DictRefSP>("DictRefSP");
    qRegisterMetaType<QMap<QString, QString>>();
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerDictionaryMetaTypes)

} // namespace kivo
