#include "app/cli/CommandLine.h"

#include "app/AppServices.h"
#include "base/Log.h"
#include "base/UserDefaults.h"
#include "base/Uuid.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"

#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace quenda {

namespace {

enum class ValueType { String, Bool, Integer, Double, Data };

// The keys the system reads, with the type each is stored as; unknown keys are stored as text unless
// the user names a type.
std::optional<ValueType> knownType(const QString& key)
{
    static const QHash<QString, ValueType> types = {
        {QStringLiteral("hotkeyKeyCode"), ValueType::Integer},
        {QStringLiteral("hotkeyModifiers"), ValueType::Integer},
        {QStringLiteral("personalDictionary"), ValueType::Data},
        {QStringLiteral("personalDictionaryCorrectionCounts"), ValueType::Data},
        {QStringLiteral("snippets"), ValueType::Data},
        {QStringLiteral("groq_api_key"), ValueType::String},
        {QStringLiteral("quenda_api_host"), ValueType::String},
        {QStringLiteral("permissions.granted.automation.systemEvents"), ValueType::Bool},
        {QStringLiteral("permissions.prompted.accessibility"), ValueType::Bool},
        {QStringLiteral("permissions.prompted.inputMonitoring"), ValueType::Bool},
        {QStringLiteral("hasCompletedOnboarding"), ValueType::Bool},
        {QStringLiteral("entitlementsMigration_0_3_17"), ValueType::Bool},
        {QStringLiteral("permissionsWereReset"), ValueType::Bool},
        {QStringLiteral("userName"), ValueType::String},
        {QStringLiteral("userEmail"), ValueType::String},
        {QStringLiteral("SUEnableAutomaticChecks"), ValueType::Bool},
        {QStringLiteral("devMode"), ValueType::Bool},
    };
    const auto it = types.constFind(key);
    return it == types.constEnd() ? std::nullopt : std::optional<ValueType>(*it);
}

std::optional<ValueType> typeFlag(const QString& flag)
{
    if (flag == QLatin1String("--string"))
        return ValueType::String;
    if (flag == QLatin1String("--bool"))
        return ValueType::Bool;
    if (flag == QLatin1String("--int"))
        return ValueType::Integer;
    if (flag == QLatin1String("--float"))
        return ValueType::Double;
    if (flag == QLatin1String("--data"))
        return ValueType::Data;
    return std::nullopt;
}

// Line breaks and tabs shown as escapes, so one record stays on one line.
QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\t'), QLatin1String("\\t"));
}

QString idText(const QUuid& id)
{
    return canonicalUuidString(id);
}

std::optional<QUuid> parseId(const QString& text)
{
    return parseCanonicalUuid(text);
}

} // namespace

CommandLine::CommandLine(AppServices& services, QTextStream& out, QTextStream& err)
    : m_services(services)
    , m_defaults(services.defaults())
    , m_snippets(services.snippets())
    , m_dictionary(services.dictionary())
    , m_out(out)
    , m_err(err)
{}

void CommandLine::addCommand(const QString& name, const QString& usageLines, Handler handler)
{
    m_extensions.append(Extension{name, usageLines, std::move(handler)});
}

QString CommandLine::usage() const
{
    QString extra;
    for (const Extension& extension : m_extensions)
        extra += extension.usageLines;
    return QStringLiteral(
               "usage: quenda COMMAND [ARGUMENTS]\n"
               "\n"
               "  expand TEXT                         expand the snippets in TEXT and print the result\n"
               "  snippets list                       list snippets: ID, trigger, expansion (tab-separated)\n"
               "  snippets add TRIGGER EXPANSION      add a snippet (\\n in EXPANSION is a line break)\n"
               "  snippets remove ID|TRIGGER          remove a snippet by its ID or every snippet with that "
               "trigger\n"
               "  dictionary list                     list dictionary entries: ID, misheard, correct\n"
               "  dictionary add MISHEARD CORRECT     add a word correction\n"
               "  dictionary remove ID|MISHEARD       remove an entry by its ID or every entry for that "
               "word\n"
               "  config list                         list the stored settings\n"
               "  config get KEY                      print one setting\n"
               "  config set KEY VALUE [TYPE]         store a setting; TYPE is --string, --bool, --int, "
               "--float\n"
               "                                      or --data (known keys take their own type by default)\n"
               "  config unset KEY                    remove a setting\n"
               "  help                                show this text\n") +
           extra;
}

int CommandLine::usageError(const QString& problem)
{
    m_err << "quenda: " << problem << "\n\n" << usage();
    m_err.flush();
    return 2;
}

int CommandLine::failure(const QString& problem)
{
    m_err << "quenda: " << problem << '\n';
    m_err.flush();
    return 1;
}

int CommandLine::run(const QStringList& arguments)
{
    // A command's results go to standard output, the components' log lines to standard error, so that
    // the output can be read by another program.
    Log::Sink previous = Log::setSink([](const QString& line) {
        const QByteArray bytes = line.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    });
    const int status = runCommand(arguments);
    Log::setSink(std::move(previous));
    return status;
}

int CommandLine::runCommand(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    int status = 0;
    if (command == QLatin1String("help") || command == QLatin1String("--help") ||
        command == QLatin1String("-h")) {
        m_out << usage();
    } else if (command == QLatin1String("--version")) {
        m_out << "quenda " << QStringLiteral(QUENDA_VERSION) << '\n';
    } else if (command == QLatin1String("expand")) {
        if (rest.size() != 1)
            return usageError(QStringLiteral("expand takes one TEXT"));
        m_out << m_snippets.expandSnippets(rest.first()).first << '\n';
    } else if (command == QLatin1String("snippets")) {
        status = runSnippets(rest);
    } else if (command == QLatin1String("dictionary")) {
        status = runDictionary(rest);
    } else if (command == QLatin1String("config")) {
        status = runConfig(rest);
    } else {
        const auto extension = std::find_if(m_extensions.cbegin(), m_extensions.cend(),
                                            [&](const Extension& e) { return e.name == command; });
        if (extension == m_extensions.cend())
            return usageError(QStringLiteral("unknown command \"%1\"").arg(command));
        status = extension->handler(rest);
    }
    m_out.flush();
    return status;
}

int CommandLine::runSnippets(const QStringList& args)
{
    const QString action = args.value(0);
    if (action == QLatin1String("list") && args.size() == 1) {
        for (const Snippet& snippet : m_snippets.snippets())
            m_out << idText(snippet.id) << '\t' << oneLine(snippet.trigger) << '\t'
                  << oneLine(snippet.expansion) << '\n';
        return 0;
    }
    if (action == QLatin1String("add") && args.size() == 3) {
        QString expansion = args[2];
        expansion.replace(QLatin1String("\\n"), QLatin1String("\n"));
        if (args[1].isEmpty() || expansion.isEmpty())
            return usageError(QStringLiteral("a snippet needs a trigger and an expansion"));
        m_snippets.addSnippet(args[1], expansion);
        const Snippet& added = m_snippets.snippets().constLast();
        m_out << "Added " << idText(added.id) << '\t' << oneLine(added.trigger) << '\t'
              << oneLine(added.expansion) << '\n';
        return 0;
    }
    if (action == QLatin1String("remove") && args.size() == 2) {
        QList<QUuid> doomed;
        const std::optional<QUuid> id = parseId(args[1]);
        for (const Snippet& snippet : m_snippets.snippets()) {
            if (id ? snippet.id == *id : snippet.trigger == args[1].toLower())
                doomed.append(snippet.id);
        }
        if (doomed.isEmpty())
            return failure(QStringLiteral("no snippet matches \"%1\"").arg(args[1]));
        for (const QUuid& doomedId : doomed)
            m_snippets.removeSnippet(doomedId);
        m_out << "Removed " << doomed.size() << (doomed.size() == 1 ? " snippet\n" : " snippets\n");
        return 0;
    }
    return usageError(QStringLiteral("snippets takes list, add TRIGGER EXPANSION or remove ID|TRIGGER"));
}

int CommandLine::runDictionary(const QStringList& args)
{
    const QString action = args.value(0);
    if (action == QLatin1String("list") && args.size() == 1) {
        for (const DictionaryEntry& entry : m_dictionary.entries())
            m_out << idText(entry.id) << '\t' << oneLine(entry.misheard) << '\t' << oneLine(entry.correct)
                  << '\n';
        return 0;
    }
    if (action == QLatin1String("add") && args.size() == 3) {
        if (args[1].isEmpty() || args[2].isEmpty())
            return usageError(QStringLiteral("an entry needs a misheard and a correct word"));
        m_dictionary.addEntry(args[1], args[2]);
        const DictionaryEntry& added = m_dictionary.entries().constLast();
        m_out << "Added " << idText(added.id) << '\t' << oneLine(added.misheard) << '\t'
              << oneLine(added.correct) << '\n';
        return 0;
    }
    if (action == QLatin1String("remove") && args.size() == 2) {
        QList<QUuid> doomed;
        const std::optional<QUuid> id = parseId(args[1]);
        for (const DictionaryEntry& entry : m_dictionary.entries()) {
            if (id ? entry.id == *id : entry.misheard == args[1].toLower())
                doomed.append(entry.id);
        }
        if (doomed.isEmpty())
            return failure(QStringLiteral("no dictionary entry matches \"%1\"").arg(args[1]));
        for (const QUuid& doomedId : doomed)
            m_dictionary.removeEntry(doomedId);
        m_out << "Removed " << doomed.size() << (doomed.size() == 1 ? " entry\n" : " entries\n");
        return 0;
    }
    return usageError(QStringLiteral("dictionary takes list, add MISHEARD CORRECT or remove ID|MISHEARD"));
}

int CommandLine::runConfig(const QStringList& args)
{
    const QString action = args.value(0);
    if (action == QLatin1String("list") && args.size() == 1) {
        QStringList keys = m_defaults.allKeys();
        keys.sort();
        for (const QString& key : keys)
            m_out << key << " = " << oneLine(m_defaults.displayValue(key).value_or(QString())) << '\n';
        return 0;
    }
    if (action == QLatin1String("get") && args.size() == 2) {
        const std::optional<QString> value = m_defaults.displayValue(args[1]);
        if (!value)
            return failure(QStringLiteral("%1 is not set").arg(args[1]));
        m_out << *value << '\n';
        return 0;
    }
    if (action == QLatin1String("unset") && args.size() == 2) {
        m_defaults.remove(args[1]);
        return 0;
    }
    if (action == QLatin1String("set") && (args.size() == 3 || args.size() == 4)) {
        const QString& key = args[1];
        const QString& value = args[2];
        std::optional<ValueType> type = knownType(key).value_or(ValueType::String);
        if (args.size() == 4) {
            type = typeFlag(args[3]);
            if (!type)
                return usageError(QStringLiteral("unknown type \"%1\"").arg(args[3]));
        }
        if (key.isEmpty())
            return usageError(QStringLiteral("the key is empty"));
        switch (*type) {
        case ValueType::String:
            m_defaults.setString(key, value);
            break;
        case ValueType::Data:
            m_defaults.setData(key, value.toUtf8());
            break;
        case ValueType::Bool: {
            const QString text = value.trimmed().toLower();
            const bool yes =
                text == QLatin1String("true") || text == QLatin1String("yes") || text == QLatin1String("1");
            const bool no =
                text == QLatin1String("false") || text == QLatin1String("no") || text == QLatin1String("0");
            if (!yes && !no)
                return usageError(QStringLiteral("%1 takes true or false").arg(key));
            m_defaults.setBool(key, yes);
            break;
        }
        case ValueType::Integer: {
            bool ok = false;
            const qint64 number = value.trimmed().toLongLong(&ok);
            if (!ok)
                return usageError(QStringLiteral("%1 takes a whole number").arg(key));
            m_defaults.setInteger(key, number);
            break;
        }
        case ValueType::Double: {
            bool ok = false;
            const double number = value.trimmed().toDouble(&ok);
            if (!ok)
                return usageError(QStringLiteral("%1 takes a number").arg(key));
            m_defaults.setDouble(key, number);
            break;
        }
        }
        return 0;
    }
    return usageError(QStringLiteral("config takes list, get KEY, set KEY VALUE [TYPE] or unset KEY"));
}

} // namespace quenda
