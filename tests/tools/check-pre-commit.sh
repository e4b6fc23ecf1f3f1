#!/usr/bin/env bash
# The pre-commit hook in a scratch repository: a staged file that is not formatted is formatted
# and committed formatted; one with unstaged changes besides stops the commit and stays as it is;
# a formatted file goes through untouched.
#   check-pre-commit.sh <source folder>
set -u
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

cd "$work"
git init -q . && git config user.email test@example.org && git config user.name test
cp "$source/.clang-format" .
mkdir -p .git/hooks && ln -s "$source/tools/pre-commit" .git/hooks/pre-commit
printf 'int main()\n{\n    return 0;\n}\n' >tidy.cpp
printf 'int  f( int x ){return x;}\n' >messy.cpp
git add .clang-format tidy.cpp messy.cpp
git commit -q -m first || fail "the commit was refused"
[ "$(git show HEAD:messy.cpp)" = "$(clang-format --assume-filename=messy.cpp <messy.cpp)" ] ||
    fail "messy.cpp was committed unformatted: $(git show HEAD:messy.cpp)"
[ "$(git show HEAD:tidy.cpp)" = $'int main()\n{\n    return 0;\n}' ] || fail "tidy.cpp was changed"

printf 'int  g( int y ){return y;}\n' >other.cpp
git add other.cpp
printf '// and more\n' >>other.cpp
if git commit -q -m second 2>/dev/null; then
    fail "a file with unstaged changes was committed"
fi
[ "$(cat other.cpp)" = $'int  g( int y ){return y;}\n// and more' ] || fail "other.cpp was changed: $(cat other.cpp)"
[ "$failed" -eq 0 ] && echo "PASS"
exit "$failed"
