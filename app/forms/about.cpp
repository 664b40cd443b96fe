#include "about.h"

#include "aboutform.h"

about::about(QWidget *parent)
    : QDialog(parent)
    , m_form(new AboutForm)
{
    m_form->setup(this);
}

about::~about()
{
    delete m_form;
}
