#include "ScriptModule.h"

#include <algorithm>
#include <iterator>

#include "Interpreter.h"
#include "SyntaxError.h"

ScriptModule::ScriptModule(const QString &name, std::weak_ptr<Interpreter> engine)
    : m_name(name)
    , m_engine(std::move(engine))
{
}

void ScriptModule::describe(DispatchTable<ScriptModule> &t)
{
    t.name(QStringLiteral("Module"));
    t.get(QStringLiteral("Name"), &ScriptModule::name);
    t.method(QStringLiteral("AddCode"), &ScriptModule::AddCode);
    t.method(QStringLiteral("Eval"), &ScriptModule::Eval);
    t.method(QStringLiteral("ExecuteStatement"), &ScriptModule::ExecuteStatement);
    t.raw(QStringLiteral("Run"),
          [](ScriptModule &m, CallKind, std::vector<Variant> &args) { return runCalled(m, args); });
}

Variant ScriptModule::runCalled(ScriptModule &m, std::vector<Variant> &args)
{
    if (args.empty())
        throw VbError(VbErr::WrongArgumentCount);
    std::vector<Variant> rest(args.begin() + 1, args.end());
    Variant result = m.Run(args[0].toString(), rest);
    std::copy(rest.begin(), rest.end(), args.begin() + 1);
    return result;
}

static std::shared_ptr<Interpreter> engineOf(const std::weak_ptr<Interpreter> &weak)
{
    auto engine = weak.lock();
    if (!engine)
        throw VbError(VbErr::ObjectVariableNotSet);
    return engine;
}

void ScriptModule::AddCode(const QString &code)
{
    engineOf(m_engine)->addCode(*this, code);
}

void ScriptModule::AddProgramText(const QString &code)
{
    engineOf(m_engine)->addCode(*this, code, true);
}

Variant ScriptModule::Run(const QString &procedure, std::vector<Variant> &args)
{
    return engineOf(m_engine)->run(*this, procedure, args);
}

Variant ScriptModule::Eval(const QString &expression)
{
    return engineOf(m_engine)->eval(*this, expression);
}

void ScriptModule::ExecuteStatement(const QString &statement)
{
    engineOf(m_engine)->executeStatement(*this, statement);
}

namespace {

constexpr qint64 kBlockBytes = 16;        // the allocator's header on every block
constexpr qint64 kTextHeaderBytes = 24;   // a text block's count and capacity
constexpr qint64 kSpanBytes = 128 + 16 + kBlockBytes; // a hash span's offsets and pointer

qint64 ownText(const QString &s)
{
    return s.isEmpty() ? 0 : MemoryBudget::textBytes(s) + kTextHeaderBytes + kBlockBytes;
}

// A hash table holds spans of 128 buckets at most half used; a span in use keeps room for
// at least 48 entries, and grows by half again.
qint64 hashBytes(qsizetype entries, qint64 entryBytes)
{
    if (entries <= 0)
        return 0;
    const qint64 buckets = std::max<qint64>(128, qint64(qNextPowerOfTwo(quint64(entries) * 2)));
    const qint64 spans = buckets / 128;
    return spans * kSpanBytes + std::max<qint64>(entries + entries / 2, spans * 48) * entryBytes
           + spans * kBlockBytes;
}

template<class T>
qint64 listBytes(const std::vector<T> &v)
{
    return v.capacity() ? qint64(v.capacity() * sizeof(T)) + kBlockBytes : 0;
}

template<class V>
qint64 keyedBytes(const QHash<QString, V> &h)
{
    qint64 bytes = hashBytes(h.size(), qint64(sizeof(QString) + sizeof(V) + sizeof(size_t)));
    for (auto it = h.cbegin(); it != h.cend(); ++it)
        bytes += ownText(it.key());
    return bytes;
}

qint64 procedureBytes(const Procedure *p)
{
    if (!p)
        return 0;
    qint64 bytes = ownText(p->name) + ownText(p->lower) + listBytes(p->params) + listBytes(p->consts)
                   + listBytes(p->body) + keyedBytes(p->locals) + keyedBytes(p->implicitSlots);
    for (const Param &a : p->params)
        bytes += ownText(a.name);
    return bytes;
}

qint64 classBytes(const ClassDef *c)
{
    qint64 bytes = ownText(c->name) + ownText(c->lower) + ownText(c->defaultMember) + listBytes(c->fields)
                   + keyedBytes(c->fieldIndex) + keyedBytes(c->members);
    for (const ClassField &f : c->fields)
        bytes += ownText(f.name) + listBytes(f.bounds);
    for (auto it = c->members.cbegin(); it != c->members.cend(); ++it)
        bytes += procedureBytes(it->method) + procedureBytes(it->get) + procedureBytes(it->let)
                 + procedureBytes(it->set);
    return bytes;
}

} // namespace

qint64 ScriptModule::nameEntryBytes(const QString &lower, qint64 valueBytes)
{
    // A table at most half full: two entries' room per name, and the bucket's offset.
    return ownText(lower) + 2 * (qint64(sizeof(QString)) + valueBytes + qint64(sizeof(size_t))) + 2;
}

qint64 ScriptModule::definitionBytes(const Program &program)
{
    qint64 bytes = listBytes(program.nodes) + listBytes(program.procedures) + listBytes(program.classes)
                   + listBytes(program.consts) + listBytes(program.top) + keyedBytes(program.declaredAt)
                   + qint64(program.globalNames.capacity() + program.localNames.capacity()) * qint64(sizeof(QString));
    for (const QString &name : program.globalNames)
        bytes += ownText(name);
    for (const QString &name : program.localNames)
        bytes += ownText(name);
    for (const Procedure *p : program.procedures)
        bytes += procedureBytes(p);
    for (const ClassDef *c : program.classes)
        bytes += classBytes(c);
    return bytes;
}

int ScriptModule::define(const QString &lower)
{
    auto it = m_index.constFind(lower);
    if (it != m_index.constEnd())
        return *it;
    // The slot, its entry in the index and in the declared names (checked before the change).
    m_held.add(qint64(sizeof(Global)) + nameEntryBytes(lower, sizeof(int)) + nameEntryBytes(QString(), 0));
    int index = int(m_globals.size());
    m_globals.emplace_back();
    m_index.insert(lower, index);
    return index;
}

void ScriptModule::checkNames(const Program &program) const
{
    // A class may not take the name of a variable or procedure the module
    // declared earlier, nor the other way round.
    auto redefined = [](const Node *at) {
        return SyntaxError::make(SyntaxError::NameRedefined, at->line, at->column);
    };
    for (const ClassDef *c : program.classes)
        if (m_declared.contains(c->lower))
            throw redefined(c);
    for (const Procedure *p : program.procedures)
        if (m_classes.contains(p->lower))
            throw redefined(p);
    for (auto it = program.declaredAt.cbegin(); it != program.declaredAt.cend(); ++it)
        if (m_classes.contains(it.key()))
            throw redefined(it.value());
}

void ScriptModule::adopt(const ProgramPtr &program)
{
    checkNames(*program);
    // Everything is checked before the module changes: 7 leaves it as it was.
    qint64 tables = 0;
    for (const QString &name : program->globalNames)
        if (!m_index.contains(name))
            tables += qint64(sizeof(Global)) + 2 * nameEntryBytes(name, sizeof(int));
    for (const Procedure *p : program->procedures)
        if (!m_index.contains(p->lower))
            tables += qint64(sizeof(Global)) + 2 * nameEntryBytes(p->lower, sizeof(int));
    qint64 classes = 0;
    for (const ClassDef *c : program->classes)
        if (!m_classes.contains(c->lower))
            classes += nameEntryBytes(c->lower, sizeof(std::pair<const ClassDef *, ProgramPtr>));
    const qint64 own = definitionBytes(*program);
    MemoryBudget::checkBytes(tables + classes + own);
    program->held.add(own);
    m_held.add(classes);
    for (const QString &name : program->globalNames) {
        define(name);
        m_declared.insert(name);
    }
    bool replaces = false;
    for (const Procedure *p : program->procedures) {
        m_declared.insert(p->lower);
        Global &g = m_globals[size_t(define(p->lower))];
        replaces = replaces || g.procedure;
        g.procedure = p;
        g.value = Variant();
    }
    for (const ClassDef *c : program->classes)
        m_classes.insert(c->lower, {c, program});
    if (program->procedures.empty() && program->classes.empty())
        return;
    m_programs.push_back(program);
    // A text whose definitions were all replaced (ExecuteGlobal run again and again) is
    // not kept for ever: it goes once no frame can be running its code.
    if (replaces) {
        auto gone = std::stable_partition(m_programs.begin(), m_programs.end(),
                                          [this](const ProgramPtr &p) { return defines(*p); });
        std::move(gone, m_programs.end(), std::back_inserter(m_replaced));
        m_programs.erase(gone, m_programs.end());
    }
}

bool ScriptModule::defines(const Program &program) const
{
    for (const Procedure *p : program.procedures)
        if (findProcedure(p->lower) == p)
            return true;
    for (const ClassDef *c : program.classes)
        if (findClass(c->lower) == c)
            return true;
    return false;
}

ProgramPtr ScriptModule::programOf(const Procedure *procedure) const
{
    for (const ProgramPtr &p : m_programs)
        if (std::find(p->procedures.begin(), p->procedures.end(), procedure) != p->procedures.end())
            return p;
    return nullptr;
}

void ScriptModule::releaseValues()
{
    for (Global &g : m_globals) {
        Variant old = std::move(g.value);
        g.value = Variant();
    }
}

const ClassDef *ScriptModule::findClass(const QString &lower, ProgramPtr *owner) const
{
    auto it = m_classes.constFind(lower);
    if (it == m_classes.constEnd())
        return nullptr;
    if (owner)
        *owner = it->second;
    return it->first;
}

const Procedure *ScriptModule::findProcedure(const QString &lower) const
{
    int i = find(lower);
    return i < 0 ? nullptr : m_globals[size_t(i)].procedure;
}
