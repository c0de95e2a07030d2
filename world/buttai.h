#pragma once
#include <cstdint>
#include <list>

#include "world/vectord.h"

// Every thing in the world. The eighteen virtual operations keep their slot order;
// the virtual destructor comes after them so objects can be deleted through buttai*.
class buttai {
  public:
    VECTORD dt;
    double life;
    VECTORD pos;
    VECTORD size;
    VECTORD vel;
    VECTORD acc;
    double radius;
    double detail;
    double phase;
    int32_t dirx;
    int32_t dirz;
    int32_t spare;
    int32_t pattern;
    VECTORD prevpos;

    virtual void syoki();
    virtual void move();
    virtual void movepart1();
    virtual void movepart2();
    virtual void movepart3();
    virtual void movepart4();
    virtual void movepart5();
    virtual void movepart6();
    virtual void movepart7();
    virtual void movepart8();
    virtual void movepart9();
    virtual void action();
    virtual void draw();
    virtual void draw1();
    virtual void draw2();
    virtual void draw3();
    virtual bool stumb(buttai *other);
    virtual void calc(double *r, double *g, double *b, double *a);
    virtual ~buttai() = default;
};

class hito : public buttai {
  public:
    void move() override;
    void action() override;
    void draw2() override;
    void calc(double *r, double *g, double *b, double *a) override;
    using buttai::stumb;
    // Point test: is p closer to this figure than radius + r?
    bool stumb(VECTORD p, double r);
};

class building : public buttai {
  public:
    void move() override;
    void action() override;
    void draw2() override;
    void calc(double *r, double *g, double *b, double *a) override;
};

class mato : public buttai {
  public:
    void move() override;
    void action() override;
    void draw2() override;
    void calc(double *r, double *g, double *b, double *a) override;
};

class tama : public buttai {
  public:
    void move() override;
    void action() override;
    void draw2() override;
    void calc(double *r, double *g, double *b, double *a) override;
};

// Owning lists: an object is deleted exactly when it leaves its list, or with the list when
// the program ends.
struct buttai_list : std::list<buttai *> {
    buttai_list() = default;
    buttai_list(const buttai_list &) = delete;
    buttai_list &operator=(const buttai_list &) = delete;
    ~buttai_list() {
        for (buttai *b : *this)
            delete b;
    }
};
extern buttai_list buttai_set;
extern buttai_list tama_set;
extern buttai_list building_set;

// Hits scored in the current game.
extern int32_t shothitg;

// Slices and stacks for a sphere of the given detail: truncated toward zero, clamped to 0..256.
int detail_slices(double detail);
