// The stage file: reading one block at a time, and the world it populates.
#include "flow/stage.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "base/console.h"
#include "base/files.h"
#include "base/quit.h"
#include "base/sha256.h"
#include "world/buttai.h"

bool stage_file_ended = false;

namespace {

// Stages read from fin since its last opening.
int32_t stream_stages = 0;
// Line of fin's read position; the game's messages do not show it.
int stream_line = 1;

bool is_blank(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Next unread character, or EOF. A stream already at its end is not touched, so a last
// number that ran into the end of the file leaves no failed state behind.
int peek_char(std::istream &in) {
    if (!in.good()) return std::char_traits<char>::eof();
    return in.peek();
}

// Skips the white space in front of a token, counting line feeds. False at the end.
bool skip_space(std::istream &in, int &line) {
    for (;;) {
        int c = peek_char(in);
        if (c == std::char_traits<char>::eof()) return false;
        if (c == '\n') {
            ++line;
        } else if (!is_blank(c)) {
            return true;
        }
        in.get();
    }
}

// What a reader sees of a token: long ones are cut, bytes outside printable ASCII escaped.
std::string shown(const std::string &tok) {
    static const char hex[] = "0123456789abcdef";
    std::string s = "\"";
    size_t n = 0;
    for (unsigned char c : tok) {
        if (++n > 40) {
            s += "...";
            break;
        }
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            s += static_cast<char>(c);
        } else {
            s += "\\x";
            s += hex[c >> 4];
            s += hex[c & 15];
        }
    }
    return s + "\"";
}

stage_read fail(stage_fault &fault, int line, const std::string &found, const std::string &what) {
    fault.line = line;
    fault.found = found;
    fault.expected = what;
    return stage_read::malformed;
}

// One number by formatted extraction, the way the file has always been read. On failure the
// token is read again whole for the report. last is the line of the latest token seen, where
// a block cut short by the end of the file is reported.
template <typename T>
bool read_number(std::istream &in, int &line, int &last, T &value, std::string &found) {
    if (!skip_space(in, line)) {
        found = in.bad() ? "a read error" : "end of file";
        return false;
    }
    last = line;
    const std::streampos at = in.tellg();
    if (in >> value) return true;
    std::string tok;
    in.clear();
    if (at != std::streampos(-1)) in.seekg(at);
    in >> tok;
    found = shown(tok);
    return false;
}

const char *const field_names[16] = {"life",   "pos x",  "pos y", "pos z",  "size x", "size y",
                                     "size z", "vel x",  "vel y", "vel z",  "acc x",  "acc y",
                                     "acc z",  "detail", "spare", "pattern"};

// Where the stage file is read from; the messages keep the file's own name. A function's
// static, so the stream built before main finds it made.
std::string &stage_file_name() {
    static std::string name = "stagefile.txt";
    return name;
}

[[noreturn]] void malformed_file() {
    console_say("ステージファイルが不正です");
    quit(1);
}

[[noreturn]] void unreadable_file() {
    console_line("Error: cannot open file( stagefile.txt )");
    quit(1);
}

} // namespace

stage_read read_stage(std::istream &in, int &line, stage_block &block, stage_fault &fault) {
    block.count = 0;
    block.records.clear();

    // Before a count: empty lines, lines of blanks and comment lines of any length.
    for (;;) {
        if (!skip_space(in, line)) {
            if (in.bad()) return fail(fault, line, "a read error", "a stage's record count");
            return stage_read::ended;
        }
        if (in.peek() != '#') break;
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        if (!in.eof()) ++line;
    }

    std::string found;
    int last = line;
    block.count_line = line;
    if (!read_number(in, line, last, block.count, found))
        return fail(fault, last, found, "a stage's record count (an integer)");

    for (int32_t i = 0; i < block.count; ++i) {
        const std::string where =
            " of record " + std::to_string(i + 1) + " of " + std::to_string(block.count);
        stage_record r{};
        if (!skip_space(in, line))
            return fail(fault, last, in.bad() ? "a read error" : "end of file",
                        "a type word (hito, building or mato)" + where);
        r.line = last = line;
        in >> r.type;
        if (r.type != "hito" && r.type != "building" && r.type != "mato")
            return fail(fault, line, shown(r.type), "a type word (hito, building or mato)" + where);

        double *reals[14] = {&r.life,   &r.pos.x,  &r.pos.y, &r.pos.z, &r.size.x,
                             &r.size.y, &r.size.z, &r.vel.x, &r.vel.y, &r.vel.z,
                             &r.acc.x,  &r.acc.y,  &r.acc.z, &r.detail};
        for (int k = 0; k < 14; ++k)
            if (!read_number(in, line, last, *reals[k], found))
                return fail(fault, last, found,
                            std::string(field_names[k]) + " (a real number)" + where);
        if (!read_number(in, line, last, r.spare, found))
            return fail(fault, last, found, "spare (a 32-bit integer)" + where);
        if (!read_number(in, line, last, r.pattern, found))
            return fail(fault, last, found, "pattern (a 32-bit integer)" + where);
        block.records.push_back(r);
    }
    return stage_read::loaded;
}

std::vector<buttai *> populate_stage(const std::vector<stage_record> &records) {
    std::vector<buttai *> made;
    made.reserve(records.size());
    for (const stage_record &r : records) {
        const bool is_building = r.type == "building";
        buttai *b;
        if (r.type == "hito")
            b = new (std::nothrow) hito();
        else if (is_building)
            b = new (std::nothrow) building();
        else
            b = new (std::nothrow) mato();
        if (!b) {
            console_say("メモリ割り当てエラー");
            quit(-1);
        }
        b->life = r.life;
        b->pos = r.pos;
        b->size = r.size;
        b->vel = r.vel;
        b->acc = r.acc;
        b->detail = r.detail;
        b->spare = r.spare;
        b->pattern = r.pattern;
        b->prevpos = r.pos;
        b->syoki();
        (is_building ? building_set : buttai_set).push_back(b);
        made.push_back(b);
    }
    return made;
}

int32_t stages_loaded() {
    return stream_stages;
}

std::string stage_set_hash() {
    std::FILE *f = fopen_regular(stage_file_name(), "rb");
    if (!f) return "";
    sha256 h;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        h.update(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok ? h.hex() : "";
}

void set_stage_file(const std::string &path) {
    stage_file_name() = path;
}

namespace {
// A function's static, made before the stream built before main uses it.
std::string &opened_hash() {
    static std::string hash;
    return hash;
}
} // namespace

std::ifstream open_stage_file() {
    std::ifstream in;
    if (is_regular_file(stage_file_name()))
        in.open(stage_file_name());
    else
        in.setstate(std::ios::failbit);
    opened_hash() = stage_set_hash();
    return in;
}

const std::string &opened_stage_hash() {
    return opened_hash();
}

void buttaiinit() {
    if (fin.fail()) unreadable_file();
    // An earlier load reached the end; so does this one.
    if (fin.eof()) {
        stage_file_ended = true;
        return;
    }
    // A stream back at its start has been (re)opened: the game begins anew.
    if (fin.tellg() == std::streampos(0)) {
        // Reopened by a new game: the name may stand for something else by now.
        if (is_other_than_file(stage_file_name())) unreadable_file();
        stream_stages = 0;
        stream_line = 1;
    }

    stage_block block;
    stage_fault fault;
    const stage_read got = read_stage(fin, stream_line, block, fault);
    // A file that opened but could not be read is one that cannot be opened, not a bad one.
    if (fin.bad()) unreadable_file();
    switch (got) {
    case stage_read::malformed:
        malformed_file();
    case stage_read::ended:
        // A file with no stage at all is as broken as a bad record.
        if (stream_stages == 0) malformed_file();
        stage_file_ended = true;
        fin.clear(std::ios::eofbit);
        return;
    case stage_read::loaded:
        break;
    }
    ++stream_stages;
    stage_file_ended = false;
    populate_stage(block.records);
}

int32_t buttai_del() {
    for (buttai_list *l : {&buttai_set, &tama_set, &building_set}) {
        for (buttai *b : *l)
            delete b;
        l->clear();
    }
    return 0;
}

bool stageend() {
    return buttai_set.empty();
}
