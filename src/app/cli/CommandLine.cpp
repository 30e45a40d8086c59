#include "app/cli/CommandLine.h"

#include "app/AppServices.h"
#include "base/Log.h"
#include "base/Settings.h"
#include "base/UserDefaults.h"
#include "base/Uuid.h"
#include "net/KeychainStore.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"

#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace quenda {

namespace {

// A secret as `config` shows it: enough to tell which key is stored, never the key.
QString masked(const QString& secret)
{
    const QString stars(8, QLatin1Char('*'));
    return secret.size() >= 12 ? stars + secret.right(4) : stars;
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
               "  config list                         list the stored settings (secrets masked)\n"
               "  config keys                         list every setting: name, type, choices, default\n"
               "  config get KEY                      print one setting\n"
               "  config set KEY VALUE                store a setting, checked against its type; secrets\n"
               "                                      (groq_api_key) go to the keyring, never to the file\n"
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
    KeychainStore& keychain = m_services.keychain();
    auto secretValue = [&](const SettingKey& key) {
        std::optional<QString> value = keychain.read(key.key());
        if (!value)
            value = m_defaults.stringValue(key.key()); // a copy an older version left in the file
        return value;
    };
    if (action == QLatin1String("list") && args.size() == 1) {
        QStringList keys = m_defaults.allKeys();
        for (const SettingKey& key : settings::all()) {
            if (key.secret && !keys.contains(key.key()) && keychain.read(key.key()))
                keys << key.key();
        }
        keys.sort();
        for (const QString& name : std::as_const(keys)) {
            const SettingKey* key = settings::find(name);
            const QString value = key && key->secret ? masked(secretValue(*key).value_or(QString()))
                                                     : m_defaults.displayValue(name).value_or(QString());
            m_out << name << " = " << oneLine(value) << '\n';
        }
        return 0;
    }
    if (action == QLatin1String("keys") && args.size() == 1) {
        for (const SettingKey& key : settings::all()) {
            m_out << key.key() << '\t' << settings::typeName(key.type);
            if (key.secret)
                m_out << "\tsecret";
            else if (const QStringList choices = settings::choices(key); !choices.isEmpty())
                m_out << '\t' << choices.join(QLatin1Char('|'));
            if (key.defaultText)
                m_out << "\tdefault " << key.defaultText;
            m_out << '\n';
        }
        return 0;
    }
    if (action == QLatin1String("get") && args.size() == 2) {
        const SettingKey* key = settings::find(args[1]);
        std::optional<QString> value =
            key && key->secret ? secretValue(*key) : m_defaults.displayValue(args[1]);
        if (value && key && key->secret)
            value = masked(*value);
        if (!value) {
            if (key && key->defaultText)
                return failure(QStringLiteral("%1 is not set (default: %2)")
                                   .arg(args[1], QString::fromLatin1(key->defaultText)));
            return failure(QStringLiteral("%1 is not set").arg(args[1]));
        }
        m_out << *value << '\n';
        return 0;
    }
    if (action == QLatin1String("unset") && args.size() == 2) {
        const SettingKey* key = settings::find(args[1]);
        if (key && key->secret)
            keychain.remove(key->key());
        m_defaults.remove(args[1]);
        return 0;
    }
    if (action == QLatin1String("set") && (args.size() == 3 || args.size() == 4)) {
        const SettingKey* key = settings::find(args[1]);
        if (!key)
            return usageError(
                QStringLiteral("unknown setting \"%1\" (quenda config keys lists them)").arg(args[1]));
        // Scripts written for older versions name the type: accepted when it is the key's own.
        static const QHash<SettingType, QString> flags{{SettingType::boolean, QStringLiteral("--bool")},
                                                       {SettingType::integer, QStringLiteral("--int")},
                                                       {SettingType::number, QStringLiteral("--float")},
                                                       {SettingType::text, QStringLiteral("--string")},
                                                       {SettingType::data, QStringLiteral("--data")}};
        if (args.size() == 4 && args[3] != flags.value(key->type))
            return usageError(
                QStringLiteral("%1 is a %2 setting").arg(key->key(), settings::typeName(key->type)));
        QString problem;
        const std::optional<QVariant> value = settings::parse(*key, args[2], &problem);
        if (!value)
            return usageError(problem);
        if (key->secret) {
            // Secrets go to the keyring (or the private fallback file), never into the settings file.
            keychain.save(key->key(), value->toString());
            m_defaults.remove(key->key());
            m_out << "Stored " << key->key()
                  << (keychain.isUsingFallback() ? " in the private secrets file (no keyring answered)"
                                                 : " in the keyring")
                  << '\n';
            return 0;
        }
        switch (key->type) {
        case SettingType::boolean:
            m_defaults.setBool(key->key(), value->toBool());
            break;
        case SettingType::integer:
            m_defaults.setInteger(key->key(), value->toLongLong());
            break;
        case SettingType::number:
            m_defaults.setDouble(key->key(), value->toDouble());
            break;
        case SettingType::text:
            m_defaults.setString(key->key(), value->toString());
            break;
        case SettingType::data:
            m_defaults.setData(key->key(), value->toByteArray());
            break;
        }
        return 0;
    }
    return usageError(QStringLiteral("config takes list, keys, get KEY, set KEY VALUE or unset KEY"));
}

} // namespace quenda
