#include "tools/daosim/sql.h"

namespace daosim {
namespace {

struct Token {
    enum Kind { kEnd, kName, kLiteral, kNumber, kSymbol } kind = kEnd;
    Text text;
    bool bracketed = false;
};

bool IsNameChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
           c >= 0x80;
}

class Lexer {
public:
    explicit Lexer(TextView sql) : sql_(sql) {}

    // False on an unterminated literal or bracket, or a literal holding '|',
    // which Jet reads as a reference to a name.
    bool Next(Token* t) {
        while (at_ < sql_.size() && (sql_[at_] == u' ' || sql_[at_] == u'\t' || sql_[at_] == u'\r' ||
                                     sql_[at_] == u'\n'))
            ++at_;
        *t = Token();
        if (at_ >= sql_.size()) return true;
        const char16_t c = sql_[at_];
        if (c == u'\'' || c == u'"') return Literal(c, t);
        if (c == u'[') {
            const size_t close = sql_.find(u']', at_);
            if (close == TextView::npos) return false;
            t->kind = Token::kName;
            t->bracketed = true;
            t->text = Text(sql_.substr(at_ + 1, close - at_ - 1));
            at_ = close + 1;
            return true;
        }
        if (IsNameChar(c)) {
            const size_t start = at_;
            while (at_ < sql_.size() && IsNameChar(sql_[at_])) ++at_;
            t->text = Text(sql_.substr(start, at_ - start));
            bool digits = true;
            for (char16_t d : t->text) digits = digits && d >= u'0' && d <= u'9';
            t->kind = digits ? Token::kNumber : Token::kName;
            return true;
        }
        t->kind = Token::kSymbol;
        if (c == u'<' && at_ + 1 < sql_.size() && sql_[at_ + 1] == u'>') {
            t->text = u"<>";
            at_ += 2;
            return true;
        }
        t->text = Text(1, c);
        ++at_;
        return true;
    }

private:
    bool Literal(char16_t quote, Token* t) {
        t->kind = Token::kLiteral;
        for (++at_; at_ < sql_.size(); ++at_) {
            const char16_t c = sql_[at_];
            if (c == quote) {
                if (at_ + 1 < sql_.size() && sql_[at_ + 1] == quote) {
                    t->text += quote;
                    ++at_;
                    continue;
                }
                ++at_;
                return true;
            }
            if (c == u'|') return false;
            t->text += c;
        }
        return false;
    }

    TextView sql_;
    size_t at_ = 0;
};

class Parser {
public:
    explicit Parser(TextView sql) : lexer_(sql), sql_(sql) {}

    Error Parse(Query* q) {
        if (!Advance()) return Fail(kSyntaxInExpression, Text(sql_));
        if (IsKeyword(u"parameters")) {
            if (Error e = Parameters(q)) return e;
        }
        Error e;
        if (IsKeyword(u"select"))
            e = Select(q);
        else if (IsKeyword(u"delete"))
            e = Delete(q);
        else if (IsKeyword(u"create"))
            e = Create(q);
        else
            return Fail(kInvalidStatement);
        if (e) return e;
        if (IsSymbol(u';') && !Advance()) return Fail(kSyntaxInExpression, Text(sql_));
        if (tok_.kind != Token::kEnd) return Fail(kInvalidStatement);
        return Error();
    }

private:
    bool Advance() { return lexer_.Next(&tok_); }
    bool IsKeyword(const char16_t* word) const {
        return tok_.kind == Token::kName && !tok_.bracketed && EqualNoCase(tok_.text, word);
    }
    bool IsSymbol(char16_t c) const { return tok_.kind == Token::kSymbol && tok_.text.size() == 1 && tok_.text[0] == c; }
    // Consumes the expected keyword or symbol; false when it is not there.
    bool Keyword(const char16_t* word) { return IsKeyword(word) && Advance(); }
    bool Symbol(char16_t c) { return IsSymbol(c) && Advance(); }
    bool Name(Text* out) {
        if (tok_.kind != Token::kName) return false;
        *out = tok_.text;
        return Advance();
    }

    // PARAMETERS p TEXT(255), q TEXT;
    Error Parameters(Query* q) {
        if (!Advance()) return Fail(kSyntaxInExpression, Text(sql_));
        for (;;) {
            Text name, type;
            if (!Name(&name) || !Name(&type)) return Fail(kSyntaxInExpression, Text(sql_));
            if (Symbol(u'(')) {
                if (tok_.kind != Token::kNumber || !Advance() || !Symbol(u')'))
                    return Fail(kSyntaxInExpression, Text(sql_));
            }
            q->parameters.push_back(name);
            if (Symbol(u';')) return Error();
            if (!Symbol(u',')) return Fail(kSyntaxInExpression, Text(sql_));
        }
    }

    Error Select(Query* q) {
        q->kind = Query::kSelect;
        if (!Advance() || !Symbol(u'*')) return Fail(kInvalidStatement);
        if (!Keyword(u"from") || !Name(&q->table)) return Fail(kSyntaxInFrom);
        if (Error e = Where(q)) return e;
        if (!IsKeyword(u"order")) return Error();
        if (!Advance() || !Keyword(u"by") || !Name(&q->orderColumn)) return Fail(kSyntaxInOrderBy);
        q->hasOrder = true;
        if (IsKeyword(u"desc")) {
            q->descending = true;
            if (!Advance()) return Fail(kSyntaxInOrderBy);
        } else if (IsKeyword(u"asc") && !Advance()) {
            return Fail(kSyntaxInOrderBy);
        }
        return Error();
    }

    Error Delete(Query* q) {
        q->kind = Query::kDelete;
        if (!Advance()) return Fail(kInvalidStatement);
        if (!IsKeyword(u"from")) {
            // DELETE * FROM t, or DELETE t.* FROM t
            Text ignored;
            if (!Symbol(u'*') && !(Name(&ignored) && Symbol(u'.') && Symbol(u'*'))) return Fail(kInvalidStatement);
        }
        if (!Keyword(u"from") || !Name(&q->table)) return Fail(kSyntaxInFrom);
        return Where(q);
    }

    Error Where(Query* q) {
        if (!IsKeyword(u"where")) return Error();
        if (!Advance()) return Fail(kSyntaxInExpression, Text(sql_));
        q->hasWhere = true;
        if (!Operand(&q->where.left)) return Fail(kSyntaxInExpression, Text(sql_));
        if (IsSymbol(u'=')) {
            q->where.notEqual = false;
        } else if (tok_.kind == Token::kSymbol && tok_.text == u"<>") {
            q->where.notEqual = true;
        } else {
            return Fail(kSyntaxInExpression, Text(sql_));
        }
        if (!Advance() || !Operand(&q->where.right)) return Fail(kSyntaxInExpression, Text(sql_));
        return Error();
    }

    bool Operand(daosim::Operand* out) {
        if (tok_.kind != Token::kName && tok_.kind != Token::kLiteral) return false;
        out->literal = tok_.kind == Token::kLiteral;
        out->text = tok_.text;
        return Advance();
    }

    Error Create(Query* q) {
        q->kind = Query::kCreateTable;
        if (!Advance() || !Keyword(u"table") || !Name(&q->table) || !Symbol(u'('))
            return Fail(kSyntaxInCreateTable);
        for (;;) {
            ColumnDef column;
            if (Error e = Column(&column)) return e;
            q->columns.push_back(column);
            if (Symbol(u')')) break;
            if (!Symbol(u',')) return Fail(kSyntaxInCreateTable);
        }
        return Error();
    }

    // c TEXT(n) [NOT NULL] [CONSTRAINT k] [PRIMARY KEY] [NOT NULL]
    Error Column(ColumnDef* c) {
        if (!Name(&c->name) || !Keyword(u"text")) return Fail(kSyntaxInCreateTable);
        if (Symbol(u'(')) {
            if (tok_.kind != Token::kNumber || tok_.text.size() > 3) return Fail(kSyntaxInCreateTable);
            c->size = 0;
            for (char16_t d : tok_.text) c->size = c->size * 10 + (d - u'0');
            if (c->size < 1 || c->size > 255 || !Advance() || !Symbol(u')')) return Fail(kSyntaxInCreateTable);
        }
        for (;;) {
            if (Keyword(u"not")) {
                if (!Keyword(u"null")) return Fail(kSyntaxInCreateTable);
                c->required = true;
            } else if (Keyword(u"constraint")) {
                if (!Name(&c->constraint)) return Fail(kSyntaxInCreateTable);
            } else if (Keyword(u"primary")) {
                if (!Keyword(u"key")) return Fail(kSyntaxInCreateTable);
                c->primaryKey = true;
            } else {
                return Error();
            }
        }
    }

    Lexer lexer_;
    TextView sql_;
    Token tok_;
};

}  // namespace

Error ParseQuery(TextView sql, Query* out) {
    *out = Query();
    return Parser(sql).Parse(out);
}

bool IsPlainName(TextView text) {
    if (text.size() >= 2 && text.front() == u'[' && text.back() == u']') return true;
    if (text.empty()) return false;
    for (char16_t c : text)
        if (!IsNameChar(c)) return false;
    return true;
}

}  // namespace daosim
