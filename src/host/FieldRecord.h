#pragma once

#include "automation/Dispatch.h"

#include <span>
#include <vector>

// One field of a host record: its name as scripts spell it, its VB type and,
// for device records, the name it is reported under when it changes.
struct FieldSpec {
    const char *name;
    Variant::Type type;
    const char *report = nullptr; // nullptr: stored without comparing or reporting
    bool stored = true;           // false: the setter drops the value, the getter gives the empty value
};

// Storage for records whose members are plain typed fields (the host's
// device, event, condition and device-action records). The values keep their
// VB type: a let converts to the field's type as a typed property would.
class FieldRecord
{
public:
    const Variant &field(int index) const { return m_values.at(size_t(index)); }
    // Converts to the field's type and stores; raises VB's conversion errors.
    void storeField(int index, const Variant &value);

    static Variant emptyValue(Variant::Type type);
    static Variant convert(Variant::Type type, const Variant &value);
    // VB's "<>" between two stored field values of one type.
    static bool sameValue(const Variant &a, const Variant &b);

protected:
    explicit FieldRecord(std::span<const FieldSpec> specs);
    void visitFields(HeldValues &visitor)
    {
        for (Variant &value : m_values)
            visitor.value(value);
    }

    std::span<const FieldSpec> m_specs;
    std::vector<Variant> m_values;
};

// Registers every field of T as a property get/let/set on its dispatch table.
// T provides fieldSpecs() and assignField(int, const Variant &).
template<class T>
void describeFields(DispatchTable<T> &t)
{
    const std::span<const FieldSpec> specs = T::fieldSpecs();
    for (int i = 0; i < int(specs.size()); ++i) {
        t.raw(QString::fromLatin1(specs[size_t(i)].name), [i](T &self, CallKind kind, std::vector<Variant> &args) {
            if (kind == CallKind::Method || kind == CallKind::PropertyGet) {
                if (!args.empty())
                    throw VbError(VbErr::WrongArgumentCount);
                return self.field(i);
            }
            if (args.size() != 1)
                throw VbError(VbErr::WrongArgumentCount);
            self.assignField(i, args.back());
            return Variant();
        });
    }
}

// A record whose members are its fields and nothing else. T lists its fields
// in fieldSpecs() and names its class in kClassName.
template<class T>
class PlainRecord : public DispatchObject<T>, public FieldRecord
{
public:
    static void describe(DispatchTable<T> &t)
    {
        t.name(QString::fromLatin1(T::kClassName));
        describeFields(t);
    }
    void assignField(int index, const Variant &value) { storeField(index, value); }
    void visitHeld(HeldValues &visitor) override { visitFields(visitor); }

protected:
    PlainRecord()
        : FieldRecord(T::fieldSpecs())
    {
    }
};
