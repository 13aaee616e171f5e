/* A tokenizer and a stack machine: state machines full of switch statements of
   many sizes (a character class switch, a keyword switch, an opcode dispatch). */
#include "rt.c"

enum { T_END, T_NUM, T_NAME, T_PLUS, T_MINUS, T_STAR, T_SLASH, T_LPAREN, T_RPAREN, T_SEMI,
       T_LT, T_GT, T_EQ, T_BANG, T_AMP, T_BAR, T_CARET, T_TILDE, T_COMMA, T_ERROR };

static const char program[] =
    "let a = 12 * (3 + 4); let b = a - 7 / 2; print a & 255 | b ^ 3;"
    "if a < b then print ~a; while b > 0 do b = b - 1; print !b, a;";

static int pos;
static u32 value;
static char name[16];

static int cls(char c)
{
    switch (c) {
    case ' ': case '\t': case '\n': case '\r': return 0;
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9': return 1;
    case '+': return T_PLUS;
    case '-': return T_MINUS;
    case '*': return T_STAR;
    case '/': return T_SLASH;
    case '(': return T_LPAREN;
    case ')': return T_RPAREN;
    case ';': return T_SEMI;
    case '<': return T_LT;
    case '>': return T_GT;
    case '=': return T_EQ;
    case '!': return T_BANG;
    case '&': return T_AMP;
    case '|': return T_BAR;
    case '^': return T_CARET;
    case '~': return T_TILDE;
    case ',': return T_COMMA;
    default:
        return c >= 'a' && c <= 'z' ? 2 : T_ERROR;
    }
}

static int keyword(const char *s)
{
    switch (s[0]) {
    case 'd': return s[1] == 'o' ? 101 : 0;
    case 'i': return s[1] == 'f' ? 102 : 0;
    case 'l': return s[1] == 'e' ? 103 : 0;
    case 'p': return s[1] == 'r' ? 104 : 0;
    case 't': return s[1] == 'h' ? 105 : 0;
    case 'w': return s[1] == 'h' ? 106 : 0;
    default: return 0;
    }
}

static int next(void)
{
    int c;
    for (;;) {
        c = cls(program[pos]);
        if (program[pos] == 0)
            return T_END;
        if (c != 0)
            break;
        pos++;
    }
    if (c == 1) {
        value = 0;
        while (cls(program[pos]) == 1)
            value = value * keep(10) + (u32)(program[pos++] - '0');
        return T_NUM;
    }
    if (c == 2) {
        int n = 0;
        while (program[pos] >= 'a' && program[pos] <= 'z') {
            if (n < 15)
                name[n++] = program[pos];
            pos++;
        }
        name[n] = 0;
        return T_NAME;
    }
    pos++;
    return c;
}

static u32 stack[32];
static int sp;

static void op(int t)
{
    u32 b = sp ? stack[--sp] : 0, a = sp ? stack[--sp] : 0, r;
    switch (t) {
    case T_PLUS: r = a + b; break;
    case T_MINUS: r = a - b; break;
    case T_STAR: r = a * b; break;
    case T_SLASH: r = b ? a / b : 0; break;
    case T_LT: r = a < b; break;
    case T_GT: r = a > b; break;
    case T_EQ: r = a == b; break;
    case T_AMP: r = a & b; break;
    case T_BAR: r = a | b; break;
    case T_CARET: r = a ^ b; break;
    case T_COMMA: r = a * keep(31) + b; break;
    default: r = a; break;
    }
    if (sp < 32)
        stack[sp++] = r;
}

int main(void)
{
    int t, count[T_ERROR + 1] = {0}, i;
    u32 sum = 0;
    while ((t = next()) != T_END) {
        count[t]++;
        if (t == T_NUM && sp < 32)
            stack[sp++] = value;
        else if (t == T_NAME)
            sum += (u32)keyword(name);
        else if (t != T_SEMI && t != T_LPAREN && t != T_RPAREN)
            op(t);
    }
    for (i = 0; i <= T_ERROR; i++)
        out((u32)count[i]);
    out(sum);
    return (int)(sum ^ (sp ? stack[0] : 0) ^ sink);
}
