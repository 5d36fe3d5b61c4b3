#pragma once

#include <QByteArray>
#include <QStringList>

// A running server's console, reached one way or another: a command goes in, and its reply
// ends where an echo of a token of the tool's own, given right after it, comes out.
class ServerConsole {
public:
    struct Reply {
        enum class Kind {
            Answered,
            NoAnswer,    // nothing came, even when the echo was asked once more
            Lost,        // the echo came when asked again, but no answer to the command
            BadPassword, // the server holds another password
            NoPassword,  // the server holds none, and takes no command
            Unfit,       // the way in cannot take the text as that one command
            Unwritten,   // the way in was not free to take a command
        };
        Kind kind = Kind::NoAnswer;
        QByteArray text; // what the command printed, without the end's echo
    };

    virtual ~ServerConsole() = default;

    // Runs one console command on the server, once.
    virtual Reply run(const QByteArray& command) = 0;

    // The command as the engine reads a packet's text, '%' and every byte beyond ASCII made
    // a dot, so that a command runs alike whichever way it comes in and is checked as it runs.
    static QByteArray asTheEngineReads(QByteArray command);

    // A console line of the words, each as the engine's console reads it back: in quotes where
    // it holds white space, a semicolon or a comment's start, or is empty.
    static QByteArray lineOf(const QStringList& words);

    // The text with each of the secrets where the engine prints a variable's value, in quotes,
    // as stars: only there, so that the stars never tell a short secret's place in other text.
    static QString masked(QString text, const QStringList& secrets);

    // The text without the lines that echo the tokens that end replies, or that log them as
    // remote console commands: a log's, or a reply's that holds the echo of an earlier one
    // that came too late.
    static QByteArray withoutEchoes(QByteArray text);

protected:
    // A token for the echo that ends a reply, unlike any other, of kTokenSize bytes.
    static QByteArray endToken();
    static constexpr int kTokenSize = 28;
};
