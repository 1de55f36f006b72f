#!/usr/bin/env bash
# The guide's list of what error.txt says and the messages the plug-in's code
# writes there are the same set, both ways.   error_log_test.sh REPOSITORY_ROOT
#
# Code (host/ scene/ geometry/ image/ render/): the string literals, adjacent
# ones joined, in calls of every function taking a `const char* message` or
# `format` (logError and its helpers), of snprintf(message, ...), and in
# arrays k...Messages; %s and the like match any text. Guide: the lines of
# "What error.txt says" indented by exactly two spaces, but "(...)" ones.
set -uo pipefail
code=$(cat "$1"/{host,scene,geometry,image,render}/*.{cpp,h} | perl -0777 -ne '
    my $str = qr/"(?:\\.|[^"\\])*"/;
    s{($str)|//[^\n]*|/\*.*?\*/}{defined $1 ? $1 : ""}gse;
    my $callee = join "|", /\b(\w+)\s*\([^()]*\bconst char\s*\*\s*(?:message|format)\b[^()]*\)\s*\{/g,
        "snprintf(?=\\s*\\(\\s*message\\b)";
    my @args;
    push @args, $2 while /\b(?:$callee)\s*(\(((?:[^()"]++|$str|(?1))*)\))/g;
    push @args, $1 while /\bk\w*Messages\[\]\s*=\s*\{([^}]*)\}/g;
    for my $arg (@args) {
        # "text " + name + " text": each operand that is no literal stands for %s.
        1 while $arg =~ s/("\s*\+\s*)(?!["\s])([^"+;]+?)\s*(?=\+|\)\s*(?:\.c_str|\)|$))/$1"%s"/;
        $arg =~ s/"\s*\+\s*"//g;
        while ($arg =~ /((?:$str\s*)+)/g) {
            my $text = join "", map { s/^"|"$//gr } ($1 =~ /($str)/g);
            print $text =~ s/\\(.)/$1/gr, "\n" if length $text;
        }
    }' | sort -u)
guide=$(sed -n '/^What error.txt says$/,/^Removing Plexa$/p' "$1/docs/user-guide.txt" | grep -E '^  [^ (]' | sed 's/^  //')
pattern_of() { perl -pe 's/%[-0-9.]*[a-z]+/\x00/g; s/([][\\.^\$*+?(){}|\/])/\\$1/g; s/\x00/.+/g'; }
problems=()
while IFS= read -r message; do
    grep -qxE -- "$(pattern_of <<<"$message")" <<<"$guide" || problems+=("the guide does not explain \"$message\"")
done <<<"$code"
while IFS= read -r entry; do
    grep -qxE -f <(pattern_of <<<"$code") <<<"$entry" || problems+=("the guide lists \"$entry\", which the code never writes")
done <<<"$guide"
if [[ ${#problems[@]} -eq 0 ]]; then
    echo "ok   the guide's error.txt list: $(wc -l <<<"$code") messages in the code, $(wc -l <<<"$guide") entries"
else
    printf 'FAIL %s\n' "${problems[@]}"
fi
[[ ${#problems[@]} -eq 0 ]]
