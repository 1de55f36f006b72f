#!/usr/bin/env bash
# The guide's list of what error.txt says (docs/user-guide.txt, "What
# error.txt says") and the messages the plug-in's code writes there are the
# same set: every message format in the code has its entry in the guide, and
# every entry of the guide is a message the code writes.
#
#   error_log_test.sh REPOSITORY_ROOT
#
# Messages in the code, in host/, scene/, geometry/, image/ and render/: the
# string literals (adjacent ones joined) in calls of the functions that take
# a `const char* message` or `format` (logError and the helpers that pass
# theirs on), in snprintf(message, ...) calls and in arrays named
# k...Messages; %s and the like stand for one word. Entries in the guide: the lines of that
# section indented by exactly two spaces, NAME and the like standing for the
# words; entries in parentheses describe records that are no fixed text.
set -uo pipefail
root=$1

code=$(cd "$root" && cat host/*.cpp scene/*.cpp geometry/*.cpp image/*.cpp render/*.cpp | perl -0777 -ne '
    my $str = qr/"(?:\\.|[^"\\])*"/;
    s{($str)|//[^\n]*|/\*.*?\*/}{defined $1 ? $1 : ""}gse;   # comments out, strings kept
    my @loggers = /\b(\w+)\s*\([^()]*\bconst char\s*\*\s*(?:message|format)\b[^()]*\)\s*\{/g;
    my $callee = join "|", @loggers, "snprintf(?=\\s*\\(\\s*message\\b)";
    my @args;
    push @args, $2 while /\b(?:$callee)\s*(\(((?:[^()"]++|$str|(?1))*)\))/g;
    push @args, $1 while /\bk\w*Messages\[\]\s*=\s*\{([^}]*)\}/g;
    for my $arg (@args) {
        while ($arg =~ /((?:$str\s*)+)/g) {
            my $text = join "", map { s/^"|"$//gr } ($1 =~ /($str)/g);
            $text =~ s/\\(.)/$1/g;
            print "$text\n" if length $text;
        }
    }' | sort -u)
guide=$(sed -n '/^What error.txt says$/,/^Removing Plexa$/p' "$root/docs/user-guide.txt" | grep -E '^  [^ (]' | sed 's/^  //')

problems=()
# A message as a whole-line pattern (ERE): %s and the like match one word.
pattern_of() { perl -pe 's/%[-0-9.]*[a-z]+/\x00/g; s/([][\\.^\$*+?(){}|\/])/\\$1/g; s/\x00/[^ ]+/g'; }
while IFS= read -r message; do
    grep -qxE -- "$(pattern_of <<<"$message")" <<<"$guide" || problems+=("the guide does not explain \"$message\"")
done <<<"$code"
patterns=$(pattern_of <<<"$code")
while IFS= read -r entry; do
    grep -qxE -f <(echo "$patterns") <<<"$entry" || problems+=("the guide lists \"$entry\", which the code never writes")
done <<<"$guide"

if [[ ${#problems[@]} -eq 0 ]]; then
    echo "ok   the guide's error.txt list: $(wc -l <<<"$code") messages of the code, $(wc -l <<<"$guide") entries"
    echo "1 passed, 0 failed"
else
    echo "FAIL the guide's error.txt list and the code's messages differ"
    printf '  %s\n' "${problems[@]}"
    echo "0 passed, 1 failed"
    exit 1
fi
