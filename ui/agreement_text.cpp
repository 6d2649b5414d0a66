#include "ui/agreement_text.h"

namespace brelvane {

namespace {

constexpr std::array<std::string_view, 5> kPieces = {
    // Heading and preamble.
    "QUORVIX END-USER LICENSE AGREEMENT FOR BRELVANE\r\n"
    "\r\n"
    "IMPORTANT - READ CAREFULLY: This End-User License Agreement (\"Agreement\") is a legal"
    " agreement between you (either an individual or a single entity) and Quorvix for the"
    " Brelvane software product, which includes computer software and may include "
    "associated media, printed materials and electronic documentation (the \"Software\").\r\n"
    "By installing, copying or otherwise using the Software, you agree to be bound by the"
    " terms of this Agreement. If you do not agree to these terms, select Decline, do not"
    " install the Software and do not use it. Please keep this Agreement for your "
    "records.\r\n",
    // Sections 1 and 2.
    "\r\n"
    "1. GRANT OF LICENSE\r\n"
    "Quorvix grants you a non-exclusive, non-transferable license to install and use one "
    "copy of the Software on a single Mivora USB flash drive that you own or lawfully "
    "control, and to run it on any computer to which that drive is connected. You may "
    "make one copy of the Software solely for backup or archival purposes, provided that "
    "the copy carries all of the proprietary notices of the original. All rights not "
    "expressly granted in this Agreement are reserved by Quorvix. The Software is "
    "licensed for use with Mivora drives only; installing it on any other storage device "
    "is not permitted and is not supported by Quorvix.\r\n"
    "\r\n"
    "2. RESTRICTIONS\r\n"
    "You may not reverse engineer, decompile or disassemble the Software, except and only"
    " to the extent that applicable law expressly permits such activity notwithstanding "
    "this limitation. You may not rent, lease, lend, sell, sublicense or distribute the "
    "Software, nor use it to provide services to third parties. You may not remove or "
    "alter any notice of copyright, trademark or other proprietary right on or in the "
    "Software. You may not separate the Software into its component parts for use on more"
    " than one drive. Any attempt to do so withdraws this license at once.\r\n",
    // Sections 3 and 4.
    "\r\n"
    "3. OWNERSHIP AND COPYRIGHT\r\n"
    "The Software is licensed, not sold. Quorvix and its suppliers own all title, "
    "copyright and other intellectual property rights in and to the Software, including "
    "any images, text and program code incorporated in it, and in any copies you are "
    "permitted to make. The Software is protected by copyright laws and international "
    "treaty provisions. You must treat the Software like any other copyright material, "
    "except that you may install it on the drive and keep one backup copy as described "
    "above. You may not copy the printed materials of the Software. The names Quorvix, "
    "Brelvane and Mivora are trade marks of Quorvix; this Agreement grants you no rights "
    "to use them. Any third-party components included with the Software are licensed to "
    "you under the terms of this Agreement unless they come with terms of their own.\r\n"
    "\r\n"
    "4. DATA ON YOUR DRIVE\r\n"
    "Brelvane controls access to the data stored on your Mivora drive. If you forget the "
    "password or other credential you choose, the data protected by Brelvane may become "
    "permanently inaccessible, and neither Quorvix nor its distributors can recover it "
    "for you. You are solely responsible for keeping your credentials safe and for making"
    " backup copies of any data you store on the drive before installing or using the "
    "Software. The installer copies files onto the drive and may ask to replace files "
    "that already exist there; answering Yes deletes the existing file. Quorvix "
    "recommends that you close every program that uses the drive and keep a copy of its "
    "contents before you continue. Quorvix is not responsible for data lost because the "
    "drive was removed, damaged or reformatted, or because of power failures or faults of"
    " the computer to which it is connected.\r\n",
    // Sections 5 and 6.
    "\r\n"
    "5. SUPPORT AND UPDATES\r\n"
    "Quorvix may, but is not obliged to, provide support services, updates or corrections"
    " for the Software. Any supplemental software code provided to you as part of such "
    "services is considered part of the Software and is subject to the terms of this "
    "Agreement. Technical information that you give to Quorvix as part of support "
    "services may be used for its business purposes, including product support and "
    "development. Quorvix will not use such information in a form that personally "
    "identifies you. An update may replace or remove any portions of the Software that "
    "you installed before.\r\n"
    "\r\n"
    "6. TERMINATION\r\n"
    "Without prejudice to any other rights, Quorvix may terminate this Agreement if you "
    "fail to comply with its terms and conditions. In such event, you must destroy all "
    "copies of the Software and all of its component parts. You may terminate this "
    "Agreement at any time by removing the Software from your drive and destroying any "
    "backup copy. Sections 3, 4, 7, 8 and 9 survive any termination of this Agreement. "
    "Termination does not entitle you to any refund. Quorvix may also terminate this "
    "Agreement if the Software is installed on a drive that is not a supported Mivora "
    "drive.\r\n",
    // Sections 7 to 9.
    "\r\n"
    "7. NO WARRANTY\r\n"
    "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND. TO THE MAXIMUM "
    "EXTENT PERMITTED BY APPLICABLE LAW, QUORVIX AND ITS SUPPLIERS DISCLAIM ALL "
    "WARRANTIES, EITHER EXPRESS OR IMPLIED, INCLUDING BUT NOT LIMITED TO IMPLIED "
    "WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NON-"
    "INFRINGEMENT. THE ENTIRE RISK ARISING OUT OF THE USE OR PERFORMANCE OF THE SOFTWARE "
    "REMAINS WITH YOU. SOME JURISDICTIONS DO NOT ALLOW THIS EXCLUSION, SO IT MAY NOT "
    "APPLY TO YOU.\r\n"
    "\r\n"
    "8. LIMITATION OF LIABILITY\r\n"
    "TO THE MAXIMUM EXTENT PERMITTED BY APPLICABLE LAW, IN NO EVENT SHALL QUORVIX OR ITS "
    "SUPPLIERS BE LIABLE FOR ANY SPECIAL, INCIDENTAL, INDIRECT OR CONSEQUENTIAL DAMAGES "
    "WHATSOEVER, INCLUDING WITHOUT LIMITATION DAMAGES FOR LOSS OF DATA, LOSS OF BUSINESS "
    "PROFITS OR BUSINESS INTERRUPTION, ARISING OUT OF THE USE OF OR INABILITY TO USE THE "
    "SOFTWARE, EVEN IF QUORVIX HAS BEEN ADVISED OF THE POSSIBILITY OF SUCH DAMAGES. IN "
    "ANY CASE, THE ENTIRE LIABILITY OF QUORVIX UNDER THIS AGREEMENT SHALL BE LIMITED TO "
    "THE AMOUNT ACTUALLY PAID BY YOU FOR THE SOFTWARE.\r\n"
    "\r\n"
    "9. GENERAL\r\n"
    "This Agreement is the entire agreement between you and Quorvix relating to the "
    "Software and supersedes all prior communications. If any provision is held to be "
    "unenforceable, the other provisions stay in full force. Should you have any "
    "questions about this Agreement, please contact Quorvix. This Agreement is governed "
    "by the laws of the country in which you acquired the Software, and it may only be "
    "amended in writing by Quorvix.\r\n",
};

}  // namespace

const std::array<std::string_view, 5>& AgreementPieces() { return kPieces; }

std::string AgreementText() {
  std::string text;
  for (std::string_view piece : kPieces) text += piece;
  return text;
}

}  // namespace brelvane
