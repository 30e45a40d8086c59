#pragma once

#include <QList>
#include <QStringList>
#include <QTextStream>

#include <functional>

namespace quenda {

class AppServices;
class PersonalDictionary;
class SnippetManager;
class UserDefaults;

// The `quenda` command: scripting access to the user's snippets, dictionary and settings.
// Exit status 0 on success, 1 when the command could not do what was asked, 2 for bad arguments.
class CommandLine {
public:
    CommandLine(AppServices& services, QTextStream& out, QTextStream& err);

    // A further command (one that needs the desktop, the network or the microphone). `usageLines` are
    // the lines it adds to the usage text; the handler gets the arguments after the command's name.
    using Handler = std::function<int(const QStringList& args)>;
    void addCommand(const QString& name, const QString& usageLines, Handler handler);

    // `arguments` excludes the program name. While the command runs, log lines go to standard error.
    int run(const QStringList& arguments);

    QString usage() const;

    // For command handlers: where to write, and the two ways to fail.
    AppServices& services() { return m_services; }
    QTextStream& out() { return m_out; }
    QTextStream& err() { return m_err; }
    int usageError(const QString& problem);
    int failure(const QString& problem);

private:
    int runCommand(const QStringList& arguments);
    struct Extension {
        QString name;
        QString usageLines;
        Handler handler;
    };

    int runSnippets(const QStringList& args);
    int runDictionary(const QStringList& args);
    int runConfig(const QStringList& args);

    AppServices& m_services;
    UserDefaults& m_defaults;
    SnippetManager& m_snippets;
    PersonalDictionary& m_dictionary;
    QTextStream& m_out;
    QTextStream& m_err;
    QList<Extension> m_extensions;
};

} // namespace quenda
