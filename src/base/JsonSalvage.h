#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>

namespace quenda {

// Reading what can still be read of a damaged JSON value the user stored, so that one bad element or a
// lost bracket costs that element, not the whole list.
namespace json {

struct SalvagedRecords {
    QList<QJsonObject> records; // in stored order
    bool intact = false;        // the data was one well-formed array of objects
};

// The objects of a stored array of flat records (objects whose members are not objects themselves). A
// well-formed array gives its objects; damaged data gives every brace-delimited record that still parses
// on its own.
SalvagedRecords salvageRecords(const QByteArray& data);

struct SalvagedObject {
    QJsonObject members;
    bool intact = false; // the data was one well-formed object
};

// The members of a stored object whose values are numbers or strings: a well-formed object as it is,
// damaged data as every "key": value pair that still parses on its own.
SalvagedObject salvageObject(const QByteArray& data);

} // namespace json
} // namespace quenda
