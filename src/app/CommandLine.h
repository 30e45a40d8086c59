#pragma once

#include <QStringList>
#include <QTextStream>

namespace quenda {

class PersonalDictionary;
class SnippetManager;
class UserDefaults;

// The `quenda` command: scripting access to the user's snippets, dictionary and settings.
// Exit status 0 on success, 1 when the command could not do what was asked, 2 for bad arguments.
class CommandLine {
public:
    CommandLine(UserDefaults& defaults, SnippetManager& snippets, PersonalDictionary& dictionary,
                QTextStream& out, QTextStream& err);

    // `arguments` excludes the program name.
    int run(const QStringList& arguments);

    static QString usage();

private:
    int runSnippets(const QStringList& args);
    int runDictionary(const QStringList& args);
    int runConfig(const QStringList& args);
    int usageError(const QString& problem);
    int failure(const QString& problem);

    UserDefaults& m_defaults;
    SnippetManager& m_snippets;
    PersonalDictionary& m_dictionary;
    QTextStream& m_out;
    QTextStream& m_err;
};

} // namespace quenda
