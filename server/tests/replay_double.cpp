// A stand-in for the game's headless replay tool, with its command line and its answers, for
// testing the server alone. Its "game": a left click at the window's centre (250, 250) hits,
// any other misses; 100 points a hit; the demo must end with the expect line the game would
// write, whose result.score must be what this replay gives. A few lines make it misbehave
// the ways the server must survive: spin (CPU), hang (time), crash, babble (output),
// allocate MIB (memory).
#include <openssl/sha.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iconv.h>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string slurp(std::istream &in) {
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string hex(const unsigned char *p, size_t n) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

std::string sha256(const std::string &bytes) {
    unsigned char out[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), out);
    return hex(out, sizeof out);
}

std::string sjis_hex(const std::string &utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
    char *ip = in.data(), *op = out.data();
    size_t il = in.size(), ol = out.size();
    iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    return hex(reinterpret_cast<const unsigned char *>(out.data()), out.size() - ol);
}

int refuse(const std::string &reason) {
    std::cout << "{\"verified\":false,\"reason\":\"" << reason << "\"}\n";
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    std::string stagefile, demofile;
    long long max_ticks = -1;
    bool verify = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--verify")
            verify = true;
        else if (a == "--stagefile" && i + 1 < argc)
            stagefile = argv[++i];
        else if (a == "--max-ticks" && i + 1 < argc)
            max_ticks = std::atoll(argv[++i]);
        else if (demofile.empty() && (a == "-" || a[0] != '-'))
            demofile = a;
        else {
            std::cerr << "usage: replay --verify --stagefile FILE [--max-ticks N] DEMOFILE\n";
            return 2;
        }
    }
    if (!verify || stagefile.empty() || demofile.empty()) {
        std::cerr << "usage: replay --verify --stagefile FILE [--max-ticks N] DEMOFILE\n";
        return 2;
    }
    std::ifstream sf(stagefile, std::ios::binary);
    if (!sf) {
        std::cerr << "cannot read " << stagefile << "\n";
        return 2;
    }
    std::string stages = sha256(slurp(sf));
    std::string demo;
    if (demofile == "-") {
        demo = slurp(std::cin);
    } else {
        std::ifstream df(demofile, std::ios::binary);
        if (!df) {
            std::cerr << "cannot read " << demofile << "\n";
            return 2;
        }
        demo = slurp(df);
    }

    std::vector<std::string> lines;
    std::istringstream ds(demo);
    for (std::string l; std::getline(ds, l);)
        lines.push_back(l);
    if (lines.size() < 3) return refuse("the demo is too short");
    const std::string magic = "# tarmik-demo 2 tarmik ";
    if (lines[0].rfind(magic, 0) != 0) return refuse("not a game demo of this format");
    std::string version = lines[0].substr(magic.size());
    if (version != "1.0.0") return refuse("unknown version " + version);
    if (lines[1] != "stages " + stages) return refuse("the demo was played on another stage set");
    if (lines[2].rfind("game ", 0) != 0) return refuse("a bad line 3");

    long long ticks = 0, hits = 0, shots = 0;
    for (size_t i = 3; i < lines.size(); ++i) {
        std::istringstream ls(lines[i]);
        std::string verb;
        ls >> verb;
        if (verb == "tick") {
            long long n = 1;
            ls >> n;
            ticks += n;
            if (max_ticks >= 0 && ticks > max_ticks) return refuse("over the tick cap");
        } else if (verb == "click") {
            std::string button, dir;
            int x = -1, y = -1;
            ls >> button >> dir >> x >> y;
            if (button == "left" && dir == "down") {
                ++shots;
                if (x == 250 && y == 250) ++hits;
            }
        } else if (verb == "motion" || verb == "key" || verb == "reshape" || verb == "frame") {
        } else if (verb == "spin") {
            for (volatile unsigned long n = 0;; n = n + 1) {
            }
        } else if (verb == "hang") {
            std::this_thread::sleep_for(std::chrono::hours(1));
        } else if (verb == "crash") {
            std::abort();
        } else if (verb == "babble") {
            std::string junk(1 << 20, 'x');
            for (;;)
                std::fwrite(junk.data(), 1, junk.size(), stdout);
        } else if (verb == "allocate") {
            size_t mib = 0;
            ls >> mib;
            char *p = static_cast<char *>(std::malloc(mib << 20));
            if (!p) return refuse("out of memory");
            std::memset(p, 1, mib << 20);
            std::free(p);
        } else if (verb == "expect") {
            if (i + 1 != lines.size()) return refuse("a bad line " + std::to_string(i + 1));
            long long score = hits * 100;
            std::string claim = " " + lines[i] + " ";
            if (claim.find(" result.score=" + std::to_string(score) + " ") == std::string::npos)
                return refuse("the game plays back differently from its expect line");
            long long stage = std::min(14LL, 1 + hits / 5);
            long long hitrate = shots ? hits * 100 / shots : 0;
            std::string title = score >= 2000 ? u8"シークレットサービス" : "BAT";
            std::cout << "{\"verified\":true,\"version\":\"" << version << "\",\"stages\":\""
                      << stages << "\",\"score\":" << score << ",\"stage\":" << stage
                      << ",\"hitrate\":" << hitrate << ",\"title\":\"" << title
                      << "\",\"title_sjis\":\"" << sjis_hex(title) << "\",\"hits\":" << hits
                      << ",\"shots\":" << shots << ",\"ticks\":" << ticks << "}\n";
            return 0;
        } else {
            return refuse("a bad line " + std::to_string(i + 1));
        }
    }
    return refuse("the game does not play to an end");
}
